// The automation-string functions of the interface, over the one allocator
// every front end uses (base/automation_string.h).
#include "QuorvantATL.h"
#include "base/automation_string.h"

extern "C" {

QUORVANT_API BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  return quorvant::MakeAutomationString(std::u16string_view(psz));
}

QUORVANT_API BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui) {
  return quorvant::AllocateAutomationString(strIn, ui);
}

QUORVANT_API uint32_t SysStringLen(BSTR pbstr) { return quorvant::AutomationStringLength(pbstr); }

QUORVANT_API void SysFreeString(BSTR bstrString) { quorvant::FreeAutomationString(bstrString); }

}  // extern "C"
