#include "control/variant_args.h"

#include <cmath>
#include <limits>
#include <optional>

namespace quorvant::control {
namespace {

constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
constexpr int64_t kHighest = std::numeric_limits<uint32_t>::max();

// A BYREF VARIANT is followed one level, as automation allows no deeper
// nesting; its target is then read like a direct argument.
const VARIANT* Unwrapped(const VARIANT& arg) {
  if (arg.vt != (VT_BYREF | VT_VARIANT)) return &arg;
  const VARIANT* inner = arg.pvarVal;
  if (inner == nullptr || inner->vt == (VT_BYREF | VT_VARIANT)) return nullptr;
  return inner;
}

HRESULT FromWide(int64_t value, int32_t* out) {
  if (value < kLowest || value > kHighest) return DISP_E_OVERFLOW;
  *out = static_cast<int32_t>(static_cast<uint32_t>(value));
  return S_OK;
}

HRESULT FromUnsigned(uint64_t value, int32_t* out) {
  if (value > static_cast<uint64_t>(kHighest)) return DISP_E_OVERFLOW;
  *out = static_cast<int32_t>(static_cast<uint32_t>(value));
  return S_OK;
}

HRESULT FromDouble(double value, int32_t* out) {
  if (!std::isfinite(value) || value != std::trunc(value)) return DISP_E_TYPEMISMATCH;
  if (value < static_cast<double>(kLowest) || value > static_cast<double>(kHighest)) {
    return DISP_E_OVERFLOW;
  }
  return FromWide(static_cast<int64_t>(value), out);
}

// Optional blanks, an optional sign, decimal digits, optional blanks.
HRESULT FromDecimalText(BSTR text, int32_t* out) {
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  const uint32_t length = SysStringLen(text);
  uint32_t i = 0;
  auto blank = [&](uint32_t at) { return text[at] == u' ' || text[at] == u'\t'; };
  while (i < length && blank(i)) ++i;
  bool negative = false;
  if (i < length && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  const uint32_t digitsFrom = i;
  int64_t magnitude = 0;
  bool tooLarge = false;
  for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > kHighest) {
      tooLarge = true;
      magnitude = kHighest + 1;  // keep reading digits without overflowing
    }
  }
  if (i == digitsFrom) return DISP_E_TYPEMISMATCH;
  while (i < length && blank(i)) ++i;
  if (i != length) return DISP_E_TYPEMISMATCH;
  if (tooLarge) return DISP_E_OVERFLOW;
  return FromWide(negative ? -magnitude : magnitude, out);
}

// The scalar a BYREF variant points at, read through its pointer.
template <class Value>
std::optional<Value> Read(const VARIANT& arg, Value direct, const Value* pointer) {
  if ((arg.vt & VT_BYREF) == 0) return direct;
  if (pointer == nullptr) return std::nullopt;
  return *pointer;
}

}  // namespace

HRESULT ArgumentAsInt(const VARIANT& given, int32_t* out) {
  const VARIANT* arg = Unwrapped(given);
  if (arg == nullptr) return DISP_E_TYPEMISMATCH;
  const VARIANT& v = *arg;
  const bool byRef = (v.vt & VT_BYREF) != 0;
  auto wide = [&](auto value) -> HRESULT {
    if (!value) return DISP_E_TYPEMISMATCH;
    return FromWide(static_cast<int64_t>(*value), out);
  };
  auto unsignedWide = [&](auto value) -> HRESULT {
    if (!value) return DISP_E_TYPEMISMATCH;
    return FromUnsigned(static_cast<uint64_t>(*value), out);
  };
  switch (v.vt & ~VT_BYREF) {
    case VT_EMPTY:
      if (byRef) return DISP_E_TYPEMISMATCH;
      *out = 0;
      return S_OK;
    case VT_I1: return wide(Read<signed char>(v, static_cast<signed char>(v.cVal),
                                              reinterpret_cast<const signed char*>(v.pcVal)));
    case VT_I2: return wide(Read(v, v.iVal, v.piVal));
    case VT_I4: return wide(Read(v, v.lVal, v.plVal));
    case VT_INT: return wide(Read(v, v.intVal, v.pintVal));
    case VT_I8: return wide(Read(v, v.llVal, v.pllVal));
    case VT_UI1: return unsignedWide(Read(v, v.bVal, v.pbVal));
    case VT_UI2: return unsignedWide(Read(v, v.uiVal, v.puiVal));
    case VT_UI4: return unsignedWide(Read(v, v.ulVal, v.pulVal));
    case VT_UINT: return unsignedWide(Read(v, v.uintVal, v.puintVal));
    case VT_UI8: return unsignedWide(Read(v, v.ullVal, v.pullVal));
    case VT_R4: {
      auto value = Read(v, v.fltVal, v.pfltVal);
      return value ? FromDouble(*value, out) : DISP_E_TYPEMISMATCH;
    }
    case VT_R8: {
      auto value = Read(v, v.dblVal, v.pdblVal);
      return value ? FromDouble(*value, out) : DISP_E_TYPEMISMATCH;
    }
    case VT_BOOL: {
      auto value = Read(v, v.boolVal, v.pboolVal);
      if (!value) return DISP_E_TYPEMISMATCH;
      *out = *value != 0 ? -1 : 0;
      return S_OK;
    }
    case VT_BSTR: {
      auto value = Read(v, v.bstrVal, v.pbstrVal);
      return value ? FromDecimalText(*value, out) : DISP_E_TYPEMISMATCH;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ArgumentAsText(const VARIANT& given, BSTR* out) {
  const VARIANT* arg = Unwrapped(given);
  if (arg == nullptr) return DISP_E_TYPEMISMATCH;
  switch (arg->vt) {
    case VT_EMPTY:
      *out = nullptr;
      return S_OK;
    case VT_BSTR:
      *out = arg->bstrVal;
      return S_OK;
    case VT_BSTR | VT_BYREF:
      if (arg->pbstrVal == nullptr) return DISP_E_TYPEMISMATCH;
      *out = *arg->pbstrVal;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace quorvant::control
