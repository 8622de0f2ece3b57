// Reading Invoke's arguments the way a script host passes them: integers
// and strings in whichever variant form the host's language produced.
#ifndef QUORVANT_CONTROL_VARIANT_ARGS_H_
#define QUORVANT_CONTROL_VARIANT_ARGS_H_

#include <cstdint>

#include "QuorvantControl.h"

namespace quorvant::control {

// A 32-bit integer parameter from I1, I2, I4, I8, INT, UI1, UI2, UI4, UI8,
// UINT, a whole R4 or R8, BOOL (true is -1), a decimal BSTR, EMPTY (0), each
// also BYREF, or a BYREF VARIANT holding one of them. Values from INT32_MIN
// to UINT32_MAX are taken, the upper half as the same 32 bits (a DWORD of
// flags passed as an unsigned or floating-point number). Anything else is
// DISP_E_TYPEMISMATCH; a number outside that range is DISP_E_OVERFLOW.
[[nodiscard]] HRESULT ArgumentAsInt(const VARIANT& arg, int32_t* out);

// A string parameter from BSTR, BYREF BSTR or EMPTY (as ""), or a BYREF
// VARIANT holding one of them. The string is the caller's, borrowed for the
// call; null stands for "". Anything else is DISP_E_TYPEMISMATCH.
[[nodiscard]] HRESULT ArgumentAsText(const VARIANT& arg, BSTR* out);

}  // namespace quorvant::control

#endif  // QUORVANT_CONTROL_VARIANT_ARGS_H_
