// The module's registration and class-factory entry points. The automation
// control is not part of this build yet: there is no class to hand out and
// nothing to register.
#include "QuorvantATL.h"
#include "base/win32_errors.h"

namespace {
namespace win32 = quorvant::win32;
constexpr HRESULT kOk = 0;  // S_OK
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(win32::kENotimpl);
constexpr HRESULT kPointer = static_cast<HRESULT>(win32::kEPointer);
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(win32::kClassEClassnotavailable);
}  // namespace

extern "C" {

QUORVANT_API HRESULT DllCanUnloadNow(void) { return kOk; }

QUORVANT_API HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  if (ppv == nullptr) return kPointer;
  *ppv = nullptr;
  return kClassNotAvailable;
}

QUORVANT_API HRESULT DllRegisterServer(void) { return kNotImplemented; }
QUORVANT_API HRESULT DllUnregisterServer(void) { return kNotImplemented; }

}  // extern "C"
