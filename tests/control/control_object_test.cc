// The control through the library's entry points, in the C++ form of the
// interface: how Invoke reads each variant form a script host passes, the
// string rules, and protected mode on a control's own engine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "QuorvantControl.h"

namespace {

struct Bstr {
  explicit Bstr(std::u16string_view text)
      : value(SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()))) {}
  ~Bstr() { SysFreeString(value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR value;
};

std::u16string Take(BSTR text) {
  std::u16string out = text == nullptr ? u"" : std::u16string(text, SysStringLen(text));
  SysFreeString(text);
  return out;
}

struct Variant : VARIANT {
  Variant() { std::memset(static_cast<VARIANT*>(this), 0, sizeof(VARIANT)); }
  ~Variant() {
    if (vt == VT_BSTR) SysFreeString(bstrVal);
  }
};

class Control {
 public:
  Control() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, &IID_IZEBCapi, reinterpret_cast<void**>(&c)),
              S_OK);
    factory->Release();
  }
  ~Control() { c->Release(); }
  IZEBCapi* operator->() { return c; }

  // Invoke with the arguments in call order (reversed here, as automation
  // passes them).
  HRESULT invoke(DISPID id, std::vector<VARIANT> args, VARIANT* result,
                 uint32_t* argErr = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<uint32_t>(reversed.size()), 0};
    return c->Invoke(id, &IID_NULL, 0x409, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                     result, nullptr, argErr);
  }
  int32_t errorCode() {
    int32_t code = -1;
    EXPECT_EQ(c->GetErrorCode(&code), S_OK);
    return code;
  }

 private:
  IZEBCapi* c = nullptr;
};

VARIANT Make(VARTYPE vt, const std::function<void(VARIANT&)>& fill = {}) {
  VARIANT v;
  std::memset(&v, 0, sizeof(v));
  v.vt = vt;
  if (fill) fill(v);
  return v;
}

constexpr DISPID kRegWriteHKCUInt = 21;
constexpr DISPID kRegReadHKCU = 20;
constexpr DISPID kHash = 30;

// Integer parameters, observed through RegWriteHKCUInt and read back as the
// signed decimal RegReadHKCU gives for a DWORD.
TEST(ControlInvoke, IntegerArgumentForms) {
  static int32_t i4 = 77;
  static double r8 = 6.0;
  static BSTR text = SysAllocString(u"8");
  static VARIANT inner = Make(VT_I2, [](VARIANT& v) { v.iVal = 9; });
  struct Case {
    const char* what;
    VARIANT arg;
    HRESULT hr;
    const char16_t* stored;
  };
  const Case cases[] = {
      {"I1", Make(VT_I1, [](VARIANT& v) { v.cVal = -5; }), S_OK, u"-5"},
      {"UI1", Make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), S_OK, u"200"},
      {"I2", Make(VT_I2, [](VARIANT& v) { v.iVal = -300; }), S_OK, u"-300"},
      {"UI2", Make(VT_UI2, [](VARIANT& v) { v.uiVal = 60000; }), S_OK, u"60000"},
      {"I4", Make(VT_I4, [](VARIANT& v) { v.lVal = 123; }), S_OK, u"123"},
      {"UI4 high half keeps its bits", Make(VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFF; }),
       S_OK, u"-1"},
      {"INT", Make(VT_INT, [](VARIANT& v) { v.intVal = -1; }), S_OK, u"-1"},
      {"I8 lowest", Make(VT_I8, [](VARIANT& v) { v.llVal = -2147483648LL; }), S_OK,
       u"-2147483648"},
      {"I8 above 32 bits", Make(VT_I8, [](VARIANT& v) { v.llVal = 4294967296LL; }),
       DISP_E_OVERFLOW, nullptr},
      {"I8 below", Make(VT_I8, [](VARIANT& v) { v.llVal = -2147483649LL; }), DISP_E_OVERFLOW,
       nullptr},
      {"R4 whole", Make(VT_R4, [](VARIANT& v) { v.fltVal = 2.0f; }), S_OK, u"2"},
      {"R8 flags word", Make(VT_R8, [](VARIANT& v) { v.dblVal = 2147483648.0; }), S_OK,
       u"-2147483648"},
      {"R8 fraction", Make(VT_R8, [](VARIANT& v) { v.dblVal = 0.5; }), DISP_E_TYPEMISMATCH,
       nullptr},
      {"R8 NaN", Make(VT_R8, [](VARIANT& v) { v.dblVal = std::nan(""); }),
       DISP_E_TYPEMISMATCH, nullptr},
      {"R8 too large", Make(VT_R8, [](VARIANT& v) { v.dblVal = 1e10; }), DISP_E_OVERFLOW,
       nullptr},
      {"BOOL true", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), S_OK, u"-1"},
      {"BOOL false", Make(VT_BOOL), S_OK, u"0"},
      {"EMPTY", Make(VT_EMPTY), S_OK, u"0"},
      {"NULL", Make(VT_NULL), DISP_E_TYPEMISMATCH, nullptr},
      {"BYREF I4", Make(VT_I4 | VT_BYREF, [](VARIANT& v) { v.plVal = &i4; }), S_OK, u"77"},
      {"BYREF R8", Make(VT_R8 | VT_BYREF, [](VARIANT& v) { v.pdblVal = &r8; }), S_OK, u"6"},
      {"BYREF BSTR", Make(VT_BSTR | VT_BYREF, [](VARIANT& v) { v.pbstrVal = &text; }), S_OK,
       u"8"},
      {"BYREF VARIANT", Make(VT_VARIANT | VT_BYREF, [](VARIANT& v) { v.pvarVal = &inner; }),
       S_OK, u"9"},
      {"BYREF null", Make(VT_I4 | VT_BYREF), DISP_E_TYPEMISMATCH, nullptr},
      {"DISPATCH", Make(VT_DISPATCH), DISP_E_TYPEMISMATCH, nullptr},
      {"array", Make(VT_I4 | VT_ARRAY), DISP_E_TYPEMISMATCH, nullptr},
  };
  Control control;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bstr name(u"Software\\QuorvantControlTest\\n");
    Variant result;
    uint32_t argErr = 99;
    // A value the case must replace.
    ASSERT_EQ(control.invoke(kRegWriteHKCUInt,
                             {Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = name.value; }),
                              Make(VT_I4, [](VARIANT& v) { v.lVal = 424242; })},
                             &result),
              S_OK);
    ASSERT_EQ(control.invoke(kRegWriteHKCUInt,
                             {Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = name.value; }), c.arg},
                             &result, &argErr),
              c.hr);
    Variant read;
    ASSERT_EQ(control.invoke(kRegReadHKCU,
                             {Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = name.value; })}, &read),
              S_OK);
    ASSERT_EQ(read.vt, VT_BSTR);
    const std::u16string stored(read.bstrVal, SysStringLen(read.bstrVal));
    if (c.hr == S_OK) {
      EXPECT_EQ(stored, c.stored);
    } else {
      EXPECT_EQ(argErr, 0u);  // the integer is the last argument
      EXPECT_EQ(stored, u"424242");
    }
  }
}

TEST(ControlInvoke, DecimalTextArguments) {
  struct Case {
    const char16_t* text;
    HRESULT hr;
    const char16_t* stored;
  };
  const Case cases[] = {
      {u" -42 ", S_OK, u"-42"},     {u"+7", S_OK, u"7"},
      {u"4294967295", S_OK, u"-1"}, {u"4294967296", DISP_E_OVERFLOW, nullptr},
      {u"99999999999999999999999", DISP_E_OVERFLOW, nullptr},
      {u"12a", DISP_E_TYPEMISMATCH, nullptr}, {u"", DISP_E_TYPEMISMATCH, nullptr},
      {u"-", DISP_E_TYPEMISMATCH, nullptr},   {u"0x10", DISP_E_TYPEMISMATCH, nullptr},
  };
  Control control;
  Bstr name(u"Software\\QuorvantControlTest\\t");
  for (const Case& c : cases) {
    Bstr text(c.text);
    Variant result;
    EXPECT_EQ(control.invoke(kRegWriteHKCUInt,
                             {Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = name.value; }),
                              Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = text.value; })},
                             &result),
              c.hr);
    if (c.hr != S_OK) continue;
    Variant read;
    ASSERT_EQ(control.invoke(kRegReadHKCU,
                             {Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = name.value; })}, &read),
              S_OK);
    EXPECT_EQ(std::u16string(read.bstrVal, SysStringLen(read.bstrVal)), c.stored);
  }
}

// String parameters, observed through Hash against the flat export.
TEST(ControlInvoke, StringArgumentForms) {
  static BSTR abc = SysAllocString(u"abc");
  static VARIANT inner = Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = abc; });
  const std::u16string flat = Take(Hash(u"abc", 0x11));
  ASSERT_EQ(flat.size(), 32u);
  struct Case {
    const char* what;
    VARIANT arg;
    HRESULT hr;
    bool hashed;  // else an empty result and 5005
  };
  const Case cases[] = {
      {"BSTR", Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = abc; }), S_OK, true},
      {"BYREF BSTR", Make(VT_BSTR | VT_BYREF, [](VARIANT& v) { v.pbstrVal = &abc; }), S_OK,
       true},
      {"BYREF VARIANT", Make(VT_VARIANT | VT_BYREF, [](VARIANT& v) { v.pvarVal = &inner; }),
       S_OK, true},
      {"EMPTY is the empty string", Make(VT_EMPTY), S_OK, false},
      {"null BSTR is the empty string", Make(VT_BSTR), S_OK, false},
      {"a number is no string", Make(VT_I4, [](VARIANT& v) { v.lVal = 1; }),
       DISP_E_TYPEMISMATCH, false},
      {"NULL", Make(VT_NULL), DISP_E_TYPEMISMATCH, false},
  };
  Control control;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Variant result;
    uint32_t argErr = 99;
    ASSERT_EQ(control.invoke(kHash, {c.arg, Make(VT_I4, [](VARIANT& v) { v.lVal = 0x11; })},
                             &result, &argErr),
              c.hr);
    if (c.hr != S_OK) {
      EXPECT_EQ(argErr, 1u);  // the text comes first, so it is passed last
      continue;
    }
    ASSERT_EQ(result.vt, VT_BSTR);
    const std::u16string got(result.bstrVal, SysStringLen(result.bstrVal));
    EXPECT_EQ(got, c.hashed ? flat : u"");
    EXPECT_EQ(control.errorCode(), c.hashed ? 0 : 5005);
  }
}

// The flat interface stops at a zero character; the control refuses the
// string instead of hashing a part of it.
TEST(ControlMethods, StringWithZeroIsRefused) {
  Control control;
  Bstr cut(std::u16string_view(u"a\0b", 3));
  BSTR result = nullptr;
  ASSERT_EQ(control->Hash(cut.value, 0x11, &result), S_OK);
  EXPECT_EQ(Take(result), u"");
  EXPECT_EQ(control.errorCode(), 5005);
  int32_t code = -1;
  Bstr name(std::u16string_view(u"Software\\QuorvantControlTest\\z\0x", 33));
  ASSERT_EQ(control->RegWriteHKCUInt(name.value, 1, &code), S_OK);
  EXPECT_EQ(code, 5005);
  ASSERT_EQ(control->Hash(nullptr, 0x11, &result), S_OK);  // null reads as ""
  EXPECT_EQ(Take(result), u"");
  EXPECT_EQ(control.errorCode(), 5005);
}

TEST(ControlMethods, NullRetvalIsRefusedBeforeAnyWork) {
  Control control;
  Bstr text(u"abc");
  ASSERT_EQ(control->Hash(text.value, 0x11, nullptr), E_POINTER);
  EXPECT_EQ(control->GetErrorCode(nullptr), E_POINTER);
  EXPECT_EQ(control->CountWeakKeys(1, nullptr), E_POINTER);
  EXPECT_EQ(control.errorCode(), 0);
}

TEST(ControlMethods, ProtectedModeIsPerControl) {
  ASSERT_EQ(setenv("QUORVANT_PROTECTED_MODE", "1", 1), 0);
  Control sandboxed;
  ASSERT_EQ(unsetenv("QUORVANT_PROTECTED_MODE"), 0);
  Control free;
  int32_t count = -1;
  ASSERT_EQ(sandboxed->GetIECertCount(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sandboxed.errorCode(), 1500);
  int32_t port = 0;
  EXPECT_EQ(sandboxed->GetPortEx(&port), S_OK);
  EXPECT_EQ(port, 65537);
  int32_t weak = 0;
  EXPECT_EQ(sandboxed->CountWeakKeys(1, &weak), S_OK);
  EXPECT_EQ(weak, -1);
  EXPECT_EQ(sandboxed.errorCode(), 1500);
  ASSERT_EQ(free->GetIECertCount(&count), S_OK);
  EXPECT_EQ(free.errorCode(), 0);
}

TEST(ControlIdentity, InterfacesShareOneObject) {
  Control control;
  IDispatch* dispatch = nullptr;
  IObjectSafety* safety = nullptr;
  IUnknown* unknown1 = nullptr;
  IUnknown* unknown2 = nullptr;
  ASSERT_EQ(control->QueryInterface(&IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  ASSERT_EQ(control->QueryInterface(&IID_IObjectSafety, reinterpret_cast<void**>(&safety)),
            S_OK);
  ASSERT_EQ(dispatch->QueryInterface(&IID_IUnknown, reinterpret_cast<void**>(&unknown1)), S_OK);
  ASSERT_EQ(safety->QueryInterface(&IID_IUnknown, reinterpret_cast<void**>(&unknown2)), S_OK);
  EXPECT_EQ(unknown1, unknown2);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(safety->QueryInterface(&IID_IPersistStreamInit, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(control->QueryInterface(&IID_IUnknown, nullptr), E_POINTER);
  for (IUnknown* p : {static_cast<IUnknown*>(dispatch), static_cast<IUnknown*>(safety),
                      unknown1, unknown2}) {
    p->Release();
  }
}

}  // namespace
