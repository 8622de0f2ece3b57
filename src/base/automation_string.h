// Automation strings (BSTR) with the OLE layout: a 32-bit byte length just
// before the characters and a zero character after them. Results handed to
// callers are allocated here; the library's SysAllocString, SysStringLen and
// SysFreeString are these, so a caller releases them with SysFreeString.
#ifndef QUORVANT_BASE_AUTOMATION_STRING_H_
#define QUORVANT_BASE_AUTOMATION_STRING_H_

#include <cstdint>
#include <string_view>

#include "QuorvantATL.h"

namespace quorvant {

// A new BSTR holding `text`; null only when memory is exhausted.
BSTR MakeAutomationString(std::u16string_view text);
// A new BSTR of `length` characters copied from `source`, or zeros when
// `source` is null; null when memory is exhausted or the length too large.
BSTR AllocateAutomationString(const OLECHAR* source, uint32_t length);
// The characters of `text`, from its length prefix; 0 for null.
uint32_t AutomationStringLength(BSTR text);
// Releases `text`; null does nothing.
void FreeAutomationString(BSTR text);
// The characters of a caller's string; null reads as empty.
std::u16string_view ArgumentText(const OLECHAR* text);

}  // namespace quorvant

#endif  // QUORVANT_BASE_AUTOMATION_STRING_H_
