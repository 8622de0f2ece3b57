// IDispatch as a script host drives it, with arguments of any variant type
// and value: Invoke never crashes, answers S_OK or one of the automation
// errors, and always gives a result of the method's type on S_OK. Names of
// any content go through GetIDsOfNames.
//
// Input: method selector, Invoke flags, argument count, then per argument a
// 16-bit variant type and 8 value bytes; a BSTR takes a length byte and that
// many UTF-16 units instead. Methods that touch files, stores or dialogs are
// left out: their argument reading is the same code.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "QuorvantControl.h"

namespace {

// GetVersion .. GetUserHomePath except GetMacAddress, RegReadHKCU,
// RegReadHKLM, Hash, SetDefaultPfxFileName, PresetPasswdLengthRange, the
// stored-string getters, GetPortEx, then an unknown member and the one
// without a DISPID.
constexpr DISPID kMethods[] = {1, 2, 3, 4, 5, 7, 8, 20, 23, 30, 50, 51,
                               56, 57, 63, 64, 72, 73, 77, 999, -1};

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool take(void* out, size_t n) {
    if (size - at < n) return false;
    std::memcpy(out, data + at, n);
    at += n;
    return true;
  }
  uint8_t byte() {
    uint8_t b = 0;
    take(&b, 1);
    return b;
  }
};

IZEBCapi* TheControl() {
  static IZEBCapi* control = [] {
    IClassFactory* factory = nullptr;
    IZEBCapi* c = nullptr;
    if (DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory,
                          reinterpret_cast<void**>(&factory)) != S_OK ||
        factory->CreateInstance(nullptr, &IID_IZEBCapi, reinterpret_cast<void**>(&c)) != S_OK) {
      std::abort();
    }
    factory->Release();
    return c;
  }();
  return control;
}

// Storage a BYREF argument points into, kept for the call.
struct Slot {
  uint8_t value[8] = {};
  BSTR text = nullptr;
  VARIANT inner;
};

bool ReadVariant(Reader& in, VARIANT* v, Slot* slot, bool allowNesting) {
  std::memset(v, 0, sizeof(*v));
  uint16_t vt = 0;
  if (!in.take(&vt, 2)) return false;
  v->vt = vt;
  const uint16_t base = vt & ~VT_BYREF;
  if (vt == (VT_VARIANT | VT_BYREF)) {
    if (!allowNesting || !ReadVariant(in, &slot->inner, slot, false)) return false;
    v->pvarVal = &slot->inner;
    return true;
  }
  if (base == VT_BSTR) {
    const uint8_t length = in.byte();
    std::vector<OLECHAR> units(length);
    for (auto& u : units) in.take(&u, 2);
    slot->text = SysAllocStringLen(units.data(), length);
    if (vt & VT_BYREF) {
      v->pbstrVal = &slot->text;
    } else {
      v->bstrVal = slot->text;
    }
    return true;
  }
  if (!in.take(slot->value, sizeof(slot->value))) return false;
  if (vt & VT_BYREF) {
    v->byref = (slot->value[0] & 1) != 0 ? nullptr : slot->value;
  } else if (base != VT_DISPATCH && base != VT_UNKNOWN && (vt & VT_ARRAY) == 0) {
    std::memcpy(&v->llVal, slot->value, sizeof(slot->value));  // no pointers from the input
  }
  return true;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

char privateHome[] = "/tmp/quorvant-fuzz-invoke-XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A private home, so nothing of the user's is read or written; it goes
  // at exit.
  if (getenv("QUORVANT_HOME") == nullptr && mkdtemp(privateHome) != nullptr) {
    setenv("QUORVANT_HOME", privateHome, 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(privateHome, ignored);
    });
  }
  setenv("QUORVANT_DIALOGS", "none", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  Reader in{data, size};
  IZEBCapi* c = TheControl();
  const DISPID id = kMethods[in.byte() % (sizeof(kMethods) / sizeof(kMethods[0]))];
  const uint16_t flags = in.byte();
  const uint32_t count = in.byte() % 9;
  std::vector<VARIANT> args(count);
  std::vector<Slot> slots(count);
  uint32_t built = 0;
  while (built < count && ReadVariant(in, &args[built], &slots[built], true)) ++built;

  DISPPARAMS params{args.data(), nullptr, built, 0};
  VARIANT result;
  std::memset(&result, 0, sizeof(result));
  uint32_t argErr = 0xFFFFFFFF;
  const HRESULT hr = c->Invoke(id, &IID_NULL, 0, flags, &params, &result, nullptr, &argErr);
  switch (hr) {
    case S_OK:
      Check(result.vt == VT_BSTR || result.vt == VT_I4);
      if (result.vt == VT_BSTR) SysFreeString(result.bstrVal);
      break;
    case DISP_E_TYPEMISMATCH:
    case DISP_E_OVERFLOW:
      Check(argErr < built);
      break;
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_BADPARAMCOUNT:
      break;
    default:
      std::abort();
  }
  for (Slot& slot : slots) SysFreeString(slot.text);

  // The rest of the input as a member name.
  std::u16string name;
  for (size_t i = in.at; i + 1 < size; i += 2) {
    name += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  OLECHAR* names[1] = {name.data()};
  DISPID found = 0;
  const HRESULT named = c->GetIDsOfNames(&IID_NULL, names, 1, 0, &found);
  Check((named == S_OK && found > 0) || (named == DISP_E_UNKNOWNNAME && found == DISPID_UNKNOWN));
  return 0;
}
