/* A C11 caller of the automation control, including nothing of the
 * component but QuorvantControl.h: the class factory and DllCanUnloadNow,
 * every method by name through IDispatch and through the interface table,
 * IObjectSafety, and aggregation under an outer object written here.
 * Prints "N passed, N failed"; run under LeakSanitizer too. */
#include <stdio.h>
#include <string.h>

#include "QuorvantControl.h"

/* The interface table as a script host and a C caller index it. */
_Static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes");
_Static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, bstrVal) == 8, "value at 8");
_Static_assert(offsetof(IZEBCapiVtbl, Invoke) == 6 * sizeof(void*), "IDispatch slots");
_Static_assert(offsetof(IZEBCapiVtbl, GetVersion) == 7 * sizeof(void*), "first method");
_Static_assert(offsetof(IZEBCapiVtbl, Hash) == 19 * sizeof(void*), "Hash is method 13");
_Static_assert(offsetof(IZEBCapiVtbl, DeleteIECert) == 69 * sizeof(void*), "method 63");
_Static_assert(offsetof(IZEBCapiVtbl, CountWeakKeys) == 70 * sizeof(void*), "after it");
_Static_assert(sizeof(IZEBCapiVtbl) == 71 * sizeof(void*), "nothing more");

static int passed, failed;
static void check(int ok, const char* what, long detail) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "FAILED: %s (0x%08lX)\n", what, (unsigned long)detail);
  }
}

static BSTR Str(const OLECHAR* s) { return SysAllocString(s); }
static int SameText(BSTR a, BSTR b) {
  return SysStringLen(a) == SysStringLen(b) && memcmp(a, b, 2 * SysStringLen(a)) == 0;
}

/* Every method with its DISPID and parameter kinds, from the operation list. */
struct Method {
  const char* name;
  DISPID dispId;
  int textResult;
  char params[9]; /* one letter per parameter, s or i */
};
#define T(name) 's'
#define I(name) 'i'
#define KINDS(...) __VA_OPT__(__VA_ARGS__, )
#define TEXT_kText 1
#define TEXT_kInt 0
#define METHOD(Name, Export, DispId, Result, Params) \
  {#Name, DispId, TEXT_##Result, {KINDS Params 0}},
static const struct Method kMethods[] = {QUORVANT_OPERATIONS(METHOD)};
#undef METHOD
#undef KINDS
#undef T
#undef I
enum { kMethodCount = sizeof kMethods / sizeof kMethods[0] };

static OLECHAR* Wide(const char* ascii, OLECHAR* out) {
  size_t i = 0;
  for (; ascii[i] != 0; ++i) out[i] = (OLECHAR)ascii[i];
  out[i] = 0;
  return out;
}

static HRESULT Call(IZEBCapi* c, DISPID id, VARIANT* args, uint32_t count, VARIANT* result,
                    uint32_t* argErr) {
  DISPPARAMS params = {args, NULL, count, 0};
  return c->lpVtbl->Invoke(c, id, &IID_NULL, 0x409, DISPATCH_METHOD, &params, result, NULL,
                           argErr);
}

static void Clear(VARIANT* v) {
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  memset(v, 0, sizeof *v);
}

static void NamesAndInvoke(IZEBCapi* c) {
  for (int m = 0; m < kMethodCount; ++m) {
    OLECHAR buffer[64];
    OLECHAR* name = Wide(kMethods[m].name, buffer);
    DISPID id = 0;
    check(c->lpVtbl->GetIDsOfNames(c, &IID_NULL, &name, 1, 0x409, &id) == S_OK &&
              id == kMethods[m].dispId,
          kMethods[m].name, id);
    /* Empty arguments, then typical ones. */
    const size_t n = strlen(kMethods[m].params);
    for (int round = 0; round < 2; ++round) {
      VARIANT args[8];
      memset(args, 0, sizeof args);
      for (size_t p = 0; p < n && round == 1; ++p) {
        VARIANT* v = &args[n - 1 - p];
        if (kMethods[m].params[p] == 's') {
          v->vt = VT_BSTR;
          v->bstrVal = Str(u"QuorvantControlTest");
        } else {
          v->vt = VT_I4;
          v->lVal = 1;
        }
      }
      VARIANT result;
      memset(&result, 0, sizeof result);
      HRESULT hr = Call(c, id, args, (uint32_t)n, &result, NULL);
      check(hr == S_OK, kMethods[m].name, hr);
      check(result.vt == (kMethods[m].textResult ? VT_BSTR : VT_I4), kMethods[m].name,
            result.vt);
      Clear(&result);
      for (size_t p = 0; p < n; ++p) Clear(&args[p]);
    }
  }
  OLECHAR buffer[64];
  OLECHAR* names[3] = {Wide("hASH", buffer), (OLECHAR*)u"DWFLAGS", (OLECHAR*)u"strPlainText"};
  DISPID ids[3];
  check(c->lpVtbl->GetIDsOfNames(c, &IID_NULL, names, 3, 0, ids) == S_OK && ids[0] == 30 &&
            ids[1] == 1 && ids[2] == 0,
        "names compare without case; parameters resolve to positions", ids[0]);
  OLECHAR* weak = (OLECHAR*)u"CountWeakKeys";
  DISPID none = 0;
  check(c->lpVtbl->GetIDsOfNames(c, &IID_NULL, &weak, 1, 0, &none) == DISP_E_UNKNOWNNAME &&
            none == DISPID_UNKNOWN,
        "CountWeakKeys has no DISPID", none);
}

/* Every method through the interface table with null strings and zeros. */
#define T(name) (BSTR) NULL
#define I(name) 0
#define LEAD(...) __VA_OPT__(__VA_ARGS__, )
#define RET_kText &text
#define RET_kInt &number
#define FREE_kText SysFreeString(text), text = NULL
#define FREE_kInt (void)number
#define VTABLE_CALL(Name, Export, DispId, Result, Params)                        \
  check(c->lpVtbl->Name(c, LEAD Params RET_##Result) == S_OK, #Name " (vtable)", 0); \
  FREE_##Result;
static void ThroughTheTable(IZEBCapi* c) {
  BSTR text = NULL;
  int32_t number = 0;
  QUORVANT_OPERATIONS(VTABLE_CALL)
  check(c->lpVtbl->CountWeakKeys(c, 0, &number) == S_OK, "CountWeakKeys (vtable)", 0);
  check(c->lpVtbl->Hash(c, NULL, 0, NULL) == E_POINTER, "a null retval is refused", 0);
}
#undef T
#undef I

static void Results(IZEBCapi* c, IZEBCapi* other) {
  VARIANT args[2];
  VARIANT result;
  memset(args, 0, sizeof args);
  memset(&result, 0, sizeof result);
  args[1].vt = VT_BSTR;
  args[1].bstrVal = Str(u"abc");
  args[0].vt = VT_I4;
  args[0].lVal = 3;
  check(Call(c, 30, args, 2, &result, NULL) == S_OK && result.vt == VT_BSTR, "Hash abc", 0);
  BSTR flat = Hash(u"abc", 3);
  check(SameText(result.bstrVal, flat) && SysStringLen(flat) == 64,
        "Invoke(Hash) equals the flat export", SysStringLen(result.bstrVal));
  SysFreeString(flat);
  Clear(&result);

  SysFreeString(args[1].bstrVal);
  args[1].bstrVal = Str(u"");
  args[0].lVal = 0;
  check(Call(c, 30, args, 2, &result, NULL) == S_OK && result.vt == VT_BSTR &&
            SysStringLen(result.bstrVal) == 0,
        "Hash(\"\", 0) gives S_OK and an empty string", 0);
  Clear(&result);
  check(Call(c, 2, NULL, 0, &result, NULL) == S_OK && result.vt == VT_I4 &&
            result.lVal == 5005,
        "then GetErrorCode is 5005", result.lVal);
  int32_t code = -1;
  check(other->lpVtbl->GetErrorCode(other, &code) == S_OK && code == 0,
        "a second control keeps its own code", code);

  /* Automation errors. */
  uint32_t argErr = 99;
  args[0].vt = VT_R8;
  args[0].dblVal = 1.5;
  check(Call(c, 30, args, 2, &result, &argErr) == DISP_E_TYPEMISMATCH && argErr == 0,
        "a fraction is no integer; the argument is named", argErr);
  check(Call(c, 999, args, 2, &result, NULL) == DISP_E_MEMBERNOTFOUND, "unknown DISPID", 0);
  check(Call(c, 30, args, 1, &result, NULL) == DISP_E_BADPARAMCOUNT, "argument count", 0);
  DISPID named = 0;
  DISPPARAMS withNames = {args, &named, 2, 1};
  check(c->lpVtbl->Invoke(c, 30, &IID_NULL, 0, DISPATCH_METHOD, &withNames, &result, NULL,
                          NULL) == DISP_E_NONAMEDARGS,
        "named arguments", 0);
  DISPPARAMS none = {NULL, NULL, 0, 0};
  check(c->lpVtbl->Invoke(c, 2, &IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, NULL,
                          NULL) == DISP_E_UNKNOWNINTERFACE,
        "Invoke wants IID_NULL", 0);
  check(c->lpVtbl->Invoke(c, 2, &IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, &result, NULL,
                          NULL) == DISP_E_MEMBERNOTFOUND,
        "no member can be set", 0);
  check(c->lpVtbl->Invoke(c, 2, &IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, NULL,
                          NULL) == S_OK && result.vt == VT_I4,
        "a method reads as a property", result.vt);
  uint32_t count = 7;
  check(c->lpVtbl->GetTypeInfoCount(c, &count) == S_OK && count == 0, "no type info", count);
  SysFreeString(args[1].bstrVal);
}

static void Safety(IZEBCapi* c) {
  IObjectSafety* s = NULL;
  check(c->lpVtbl->QueryInterface(c, &IID_IObjectSafety, (void**)&s) == S_OK && s != NULL,
        "IObjectSafety", 0);
  if (s == NULL) return;
  uint32_t supported = 9, enabled = 9;
  check(s->lpVtbl->GetInterfaceSafetyOptions(s, &IID_IDispatch, &supported, &enabled) ==
                S_OK &&
            supported == 1 && enabled == 0,
        "IDispatch: supported 1, none enabled yet", supported);
  supported = enabled = 9;
  check(s->lpVtbl->GetInterfaceSafetyOptions(s, &IID_IZEBCapi, &supported, &enabled) ==
                E_FAIL &&
            supported == 0 && enabled == 0,
        "IZEBCapi: E_FAIL with both 0", supported);
  supported = enabled = 9;
  check(s->lpVtbl->GetInterfaceSafetyOptions(s, &IID_IOleObject, &supported, &enabled) ==
                E_NOINTERFACE &&
            supported == 0 && enabled == 0,
        "IOleObject has no host here: the interface check fails, both 0", supported);
  check(s->lpVtbl->SetInterfaceSafetyOptions(s, &IID_IDispatch, 0, 1) == E_FAIL,
        "an empty mask", 0);
  check(s->lpVtbl->SetInterfaceSafetyOptions(s, &IID_IDispatch, 1, 0) == E_FAIL,
        "no options", 0);
  check(s->lpVtbl->SetInterfaceSafetyOptions(s, &IID_IZEBCapi, 2, 2) == E_FAIL,
        "IZEBCapi cannot be marked", 0);
  check(s->lpVtbl->SetInterfaceSafetyOptions(s, &IID_IDispatch, 1, 1) == S_OK,
        "IDispatch safe for scripting", 0);
  check(s->lpVtbl->GetInterfaceSafetyOptions(s, &IID_IDispatch, &supported, &enabled) ==
                S_OK &&
            supported == 1 && enabled == 1,
        "then supported 1, enabled 1", enabled);
  check(s->lpVtbl->SetInterfaceSafetyOptions(s, &IID_IDispatch, 1, 2) == S_OK,
        "options are never cleared", 0);
  s->lpVtbl->Release(s);
}

/* An outer object that aggregates the control and exposes its IZEBCapi. */
struct Outer {
  IUnknown unknown;
  ULONG references;
  IUnknown* inner;
};
static HRESULT OuterQuery(IUnknown* self, const IID* riid, void** out) {
  struct Outer* o = (struct Outer*)self;
  if (memcmp(riid, &IID_IUnknown, sizeof(GUID)) == 0) {
    *out = self;
    ++o->references;
    return S_OK;
  }
  return o->inner->lpVtbl->QueryInterface(o->inner, riid, out);
}
static ULONG OuterAddRef(IUnknown* self) { return ++((struct Outer*)self)->references; }
static ULONG OuterRelease(IUnknown* self) {
  struct Outer* o = (struct Outer*)self;
  if (--o->references == 0 && o->inner != NULL) {
    o->inner->lpVtbl->Release(o->inner);
    o->inner = NULL;
  }
  return o->references;
}
static const IUnknownVtbl kOuterTable = {OuterQuery, OuterAddRef, OuterRelease};

static void Aggregation(IClassFactory* factory) {
  struct Outer outer = {{&kOuterTable}, 1, NULL};
  void* p = (void*)1;
  check(factory->lpVtbl->CreateInstance(factory, &outer.unknown, &IID_IZEBCapi, &p) ==
                CLASS_E_NOAGGREGATION &&
            p == NULL,
        "an outer object must ask for IUnknown", 0);
  check(factory->lpVtbl->CreateInstance(factory, &outer.unknown, &IID_IUnknown,
                                        (void**)&outer.inner) == S_OK,
        "aggregated creation", 0);
  if (outer.inner == NULL) return;
  IZEBCapi* c = NULL;
  check(outer.unknown.lpVtbl->QueryInterface(&outer.unknown, &IID_IZEBCapi, (void**)&c) ==
                S_OK &&
            outer.references == 2,
        "the inner interface counts on the outer object", outer.references);
  IUnknown* identity = NULL;
  check(c->lpVtbl->QueryInterface(c, &IID_IUnknown, (void**)&identity) == S_OK &&
            identity == &outer.unknown,
        "the control's identity is the outer object", 0);
  identity->lpVtbl->Release(identity);
  int32_t port = 0;
  check(c->lpVtbl->GetPortEx(c, &port) == S_OK && port == 65537, "a call inside", port);
  c->lpVtbl->Release(c);
  check(DllCanUnloadNow() == S_FALSE, "an aggregated control keeps the module", 0);
  outer.unknown.lpVtbl->Release(&outer.unknown);
  check(outer.inner == NULL && outer.references == 0, "the outer object let go", 0);
}

int main(void) {
  check(DllCanUnloadNow() == S_OK, "nothing alive at first", 0);
  IClassFactory* factory = NULL;
  IClassFactory* again = NULL;
  void* p = (void*)1;
  check(DllGetClassObject(&IID_IZEBCapi, &IID_IClassFactory, &p) == CLASS_E_CLASSNOTAVAILABLE &&
            p == NULL,
        "another CLSID", 0);
  check(DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, NULL) == E_POINTER,
        "a null output", 0);
  check(DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, (void**)&factory) == S_OK &&
            DllGetClassObject(&CLSID_ZEBCapi, &IID_IUnknown, (void**)&again) == S_OK &&
            factory == again,
        "one factory, reused", 0);
  if (factory == NULL) return 1;
  again->lpVtbl->Release(again);
  check(DllCanUnloadNow() == S_FALSE, "a factory reference keeps the module", 0);

  IZEBCapi* c = NULL;
  IZEBCapi* other = NULL;
  check(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IZEBCapi, (void**)&c) == S_OK,
        "create", 0);
  check(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IDispatch, (void**)&other) == S_OK,
        "create as IDispatch", 0);
  check(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IOleObject, &p) == E_NOINTERFACE &&
            p == NULL,
        "no window interfaces", 0);
  if (c == NULL || other == NULL) return 1;

  NamesAndInvoke(c);
  ThroughTheTable(c);
  Results(c, other);
  Safety(c);
  Aggregation(factory);

  factory->lpVtbl->Release(factory);
  check(DllCanUnloadNow() == S_FALSE, "controls keep the module", 0);
  other->lpVtbl->Release(other);
  check(c->lpVtbl->Release(c) == 0, "the last reference", 0);
  check(DllCanUnloadNow() == S_OK, "all released", 0);
  check(DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, (void**)&factory) == S_OK &&
            factory->lpVtbl->LockServer(factory, 1) == S_OK,
        "a server lock", 0);
  factory->lpVtbl->Release(factory);
  check(DllCanUnloadNow() == S_FALSE, "a server lock keeps the module", 0);
  DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, (void**)&factory);
  factory->lpVtbl->LockServer(factory, 0);
  factory->lpVtbl->Release(factory);
  check(DllCanUnloadNow() == S_OK, "unlocked", 0);
  /* An unlock without a lock must not hide the next user of the module. */
  DllGetClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, (void**)&factory);
  factory->lpVtbl->LockServer(factory, 0);
  factory->lpVtbl->LockServer(factory, 0);
  check(DllCanUnloadNow() == S_FALSE, "a spurious unlock is ignored", 0);
  factory->lpVtbl->Release(factory);
  check(factory->lpVtbl->Release(factory) == 0 && DllCanUnloadNow() == S_OK,
        "so is a spurious release", 0);

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
