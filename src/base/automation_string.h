// Automation strings (BSTR) with the OLE layout: a 32-bit byte length just
// before the characters and a zero character after them. Results handed to
// callers are allocated here and released with SysFreeString.
#ifndef QUORVANT_EXPORTS_AUTOMATION_STRING_H_
#define QUORVANT_EXPORTS_AUTOMATION_STRING_H_

#include <string_view>

#include "QuorvantATL.h"

namespace quorvant {

// A new BSTR holding `text`; null only when memory is exhausted.
BSTR MakeAutomationString(std::u16string_view text);
// The characters of a caller's string; null reads as empty.
std::u16string_view ArgumentText(const OLECHAR* text);

}  // namespace quorvant

#endif  // QUORVANT_EXPORTS_AUTOMATION_STRING_H_
