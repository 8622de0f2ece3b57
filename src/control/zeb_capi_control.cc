#include "control/zeb_capi_control.h"

#include <array>
#include <cstring>
#include <new>
#include <string_view>
#include <tuple>
#include <utility>

#include "base/automation_string.h"
#include "base/win32_errors.h"
#include "control/guid.h"
#include "control/module_state.h"
#include "control/variant_args.h"

namespace quorvant::control {

// The public header spells the platform's numbers for C callers; they must
// be the ones the rest of the component uses.
static_assert(static_cast<uint32_t>(E_NOINTERFACE) == win32::kENointerface);
static_assert(static_cast<uint32_t>(E_POINTER) == win32::kEPointer);
static_assert(static_cast<uint32_t>(E_FAIL) == win32::kEFail);
static_assert(static_cast<uint32_t>(E_OUTOFMEMORY) == win32::kEOutofmemory);
static_assert(static_cast<uint32_t>(E_INVALIDARG) == win32::kEInvalidarg);
static_assert(static_cast<uint32_t>(E_UNEXPECTED) == win32::kEUnexpected);
static_assert(sizeof(VARIANT) == 24 && offsetof(VARIANT, lVal) == 8);

namespace {

// An object of another party (an outer object, what it answers for us) may
// well be written in C: it is called through its table as the binary
// interface lays it out, never as a C++ class of ours.
struct UnknownTable {
  HRESULT (*queryInterface)(void* self, const IID* riid, void** ppvObject);
  ULONG (*addRef)(void* self);
  ULONG (*release)(void* self);
};
const UnknownTable& TableOf(void* object) {
  return **static_cast<const UnknownTable* const*>(object);
}

// --- The method table behind IDispatch ------------------------------------

constexpr size_t kMaxParameters = 8;

struct MethodInfo {
  std::u16string_view name;
  DISPID dispId;
  std::array<std::u16string_view, kMaxParameters> parameters;
};

#pragma push_macro("T")
#pragma push_macro("I")
#define T(name) (BSTR, name)
#define I(name) (int32_t, name)
#define QUORVANT_CTL_INFO(Name, Export, DispId, Result, Params) \
  MethodInfo{u## #Name, DispId, {QUORVANT_CTL_FOR_EACH(QUORVANT_CTL_NAME_ITEM, Params)}},
constexpr MethodInfo kMethods[] = {QUORVANT_OPERATIONS(QUORVANT_CTL_INFO)};
#undef QUORVANT_CTL_INFO
#undef T
#undef I
#pragma pop_macro("I")
#pragma pop_macro("T")

// Automation names compare without case; the method names are ASCII, so a
// name with any other character never matches.
bool SameName(std::u16string_view a, const OLECHAR* b) {
  if (b == nullptr) return false;
  size_t i = 0;
  for (; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (y == 0) return false;
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return b[i] == 0;
}

const MethodInfo* FindMethod(DISPID id) {
  for (const MethodInfo& m : kMethods) {
    if (m.dispId == id) return &m;
  }
  return nullptr;
}

// --- Arguments and results --------------------------------------------------

TextArg View(BSTR text) {
  return text == nullptr ? TextArg() : TextArg(text, SysStringLen(text));
}
int32_t View(int32_t value) { return value; }

bool HoldsZero(BSTR text) { return View(text).find(u'\0') != TextArg::npos; }
bool HoldsZero(int32_t) { return false; }

HRESULT ReadArgument(const VARIANT& arg, BSTR* out) { return ArgumentAsText(arg, out); }
HRESULT ReadArgument(const VARIANT& arg, int32_t* out) { return ArgumentAsInt(arg, out); }

void StoreResult(BSTR value, VARIANT* out) {
  if (out == nullptr) {
    SysFreeString(value);
    return;
  }
  std::memset(out, 0, sizeof(*out));
  out->vt = VT_BSTR;
  out->bstrVal = value;
}
void StoreResult(int32_t value, VARIANT* out) {
  if (out == nullptr) return;
  std::memset(out, 0, sizeof(*out));
  out->vt = VT_I4;
  out->lVal = value;
}

// Automation passes the arguments last first.
template <class Tuple, size_t... Index>
HRESULT ReadArguments(const DISPPARAMS& params, Tuple& args, uint32_t* argErr,
                      std::index_sequence<Index...>) {
  HRESULT result = S_OK;
  const uint32_t count = params.cArgs;
  auto readOne = [&](auto& slot, uint32_t position) {
    if (result != S_OK) return;
    const uint32_t at = count - 1 - position;
    result = ReadArgument(params.rgvarg[at], &slot);
    if (result != S_OK && argErr != nullptr) *argErr = at;
  };
  (readOne(std::get<Index>(args), static_cast<uint32_t>(Index)), ...);
  (void)readOne;  // methods without parameters
  return result;
}

template <class Ret, class... Params, class Method>
HRESULT InvokeWith(const DISPPARAMS& params, VARIANT* result, uint32_t* argErr,
                   Method&& method) {
  if (params.cArgs != sizeof...(Params)) return DISP_E_BADPARAMCOUNT;
  std::tuple<Params...> args{};
  HRESULT hr = ReadArguments(params, args, argErr, std::index_sequence_for<Params...>{});
  if (hr != S_OK) return hr;
  Ret value{};
  hr = std::apply([&](Params... a) { return method(a..., &value); }, args);
  if (hr != S_OK) return hr;
  StoreResult(value, result);
  return S_OK;
}

// What a method hands back: the operation's value; for a refused argument
// an empty string or the code; after a failure that escaped the operation,
// the same, with the code the guard left.
BSTR Deliver(SecurityEngine& engine, Text&& text) {
  BSTR result = MakeAutomationString(text);
  if (result == nullptr) engine.noteEscapedFailure(true);
  return result;
}
int32_t Deliver(SecurityEngine&, int32_t value) { return value; }

BSTR Refused(SecurityEngine& engine, BSTR*) {
  engine.refuseArgument();
  return MakeAutomationString(TextArg());
}
int32_t Refused(SecurityEngine& engine, int32_t*) { return engine.refuseArgument(); }

BSTR AfterFailure(SecurityEngine&, BSTR*) { return MakeAutomationString(TextArg()); }
int32_t AfterFailure(SecurityEngine& engine, int32_t*) { return engine.GetErrorCode(); }

}  // namespace

// --- Life ------------------------------------------------------------------

ZebCapiControl::ZebCapiControl(Key, IUnknown* outer, std::unique_ptr<SecurityEngine> engineIn)
    : inner(this),
      outerUnknown(outer),
      engine(std::move(engineIn)) {
  LockModule();
}

ZebCapiControl::~ZebCapiControl() { UnlockModule(); }

HRESULT ZebCapiControl::Create(IUnknown* outer, const IID* riid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (riid == nullptr) return E_INVALIDARG;
  // An aggregated object hands its outer object the inner unknown and
  // nothing else.
  if (outer != nullptr && !SameGuid(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  try {
    auto engine = std::make_unique<SecurityEngine>(DefaultEngineServices());
    auto control = std::make_unique<ZebCapiControl>(Key(), outer, std::move(engine));
    // The creator's reference, dropped once the answer holds its own: a
    // failed query destroys the object again.
    control->inner.references = 1;
    NonDelegatingUnknown& unknown = control.release()->inner;
    const HRESULT hr = unknown.QueryInterface(riid, out);
    unknown.Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT ZebCapiControl::NonDelegatingUnknown::QueryInterface(const IID* riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  *ppvObject = nullptr;
  if (SameGuid(riid, IID_IUnknown)) {
    *ppvObject = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return owner->answerInterface(riid, ppvObject);
}

ULONG ZebCapiControl::NonDelegatingUnknown::AddRef() { return ++references; }

ULONG ZebCapiControl::NonDelegatingUnknown::Release() {
  const ULONG left = --references;
  if (left == 0) std::unique_ptr<ZebCapiControl> last(owner);
  return left;
}

// The window, view, in-place and persistence interfaces of a page-hosted
// control have no host to talk to on this platform: the control answers
// only for what scripts and native callers use.
HRESULT ZebCapiControl::answerInterface(const IID* riid, void** ppvObject) {
  if (SameGuid(riid, IID_IZEBCapi) || SameGuid(riid, IID_IDispatch)) {
    *ppvObject = static_cast<IZEBCapi*>(this);
  } else if (SameGuid(riid, IID_IObjectSafety)) {
    *ppvObject = static_cast<IObjectSafety*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT ZebCapiControl::QueryInterface(const IID* riid, void** ppvObject) {
  if (outerUnknown == nullptr) return inner.QueryInterface(riid, ppvObject);
  return TableOf(outerUnknown).queryInterface(outerUnknown, riid, ppvObject);
}
ULONG ZebCapiControl::AddRef() {
  if (outerUnknown == nullptr) return inner.AddRef();
  return TableOf(outerUnknown).addRef(outerUnknown);
}
ULONG ZebCapiControl::Release() {
  if (outerUnknown == nullptr) return inner.Release();
  return TableOf(outerUnknown).release(outerUnknown);
}

// --- IDispatch ---------------------------------------------------------------

HRESULT ZebCapiControl::GetTypeInfoCount(uint32_t* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 0;  // no type library on this platform
  return S_OK;
}

HRESULT ZebCapiControl::GetTypeInfo(uint32_t, LCID, void** ppTInfo) {
  if (ppTInfo == nullptr) return E_POINTER;
  *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

// The first name is the method's; the others are its parameters', which
// resolve to their positions.
HRESULT ZebCapiControl::GetIDsOfNames(const IID* riid, OLECHAR** rgszNames, uint32_t cNames,
                                      LCID, DISPID* rgDispId) {
  if (!SameGuid(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
  const MethodInfo* method = nullptr;
  for (const MethodInfo& m : kMethods) {
    if (SameName(m.name, rgszNames[0])) method = &m;
  }
  HRESULT result = S_OK;
  rgDispId[0] = method != nullptr ? method->dispId : DISPID_UNKNOWN;
  if (method == nullptr) result = DISP_E_UNKNOWNNAME;
  for (uint32_t n = 1; n < cNames; ++n) {
    rgDispId[n] = DISPID_UNKNOWN;
    for (size_t p = 0; method != nullptr && p < kMaxParameters; ++p) {
      const std::u16string_view parameter = method->parameters[p];
      if (!parameter.empty() && SameName(parameter, rgszNames[n])) {
        rgDispId[n] = static_cast<DISPID>(p);
      }
    }
    if (rgDispId[n] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

HRESULT ZebCapiControl::Invoke(DISPID dispIdMember, const IID* riid, LCID, uint16_t wFlags,
                               DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*,
                               uint32_t* puArgErr) {
  if (!SameGuid(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  // Every member is a method; a script may also read it as a property.
  if (FindMethod(dispIdMember) == nullptr ||
      (wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (pDispParams == nullptr) return E_POINTER;
  if (pDispParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (pDispParams->cArgs != 0 && pDispParams->rgvarg == nullptr) return E_POINTER;
  const DISPPARAMS& params = *pDispParams;
  switch (dispIdMember) {
#pragma push_macro("T")
#pragma push_macro("I")
#define T(name) (BSTR, name)
#define I(name) (int32_t, name)
#define QUORVANT_CTL_CASE(Name, Export, DispId, Result, Params)                        \
  case DispId:                                                                         \
    return InvokeWith<QUORVANT_CTL_RET_##Result QUORVANT_CTL_FOR_EACH(                 \
        QUORVANT_CTL_TYPE_ITEM, Params)>(params, pVarResult, puArgErr,                 \
                                         [this](auto... a) { return this->Name(a...); });
    QUORVANT_OPERATIONS(QUORVANT_CTL_CASE)
#undef QUORVANT_CTL_CASE
#undef T
#undef I
#pragma pop_macro("I")
#pragma pop_macro("T")
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

// --- IZEBCapi ----------------------------------------------------------------

template <class Out, class Operation, class... Args>
HRESULT ZebCapiControl::forward(Out* ret, Operation&& operation, Args... args) {
  if (ret == nullptr) return E_POINTER;
  SecurityEngine& e = *engine;
  if ((HoldsZero(args) || ...)) {
    *ret = Refused(e, ret);
    return S_OK;
  }
  try {
    *ret = Deliver(e, operation(e, View(args)...));
  } catch (const std::bad_alloc&) {
    e.noteEscapedFailure(true);
    *ret = AfterFailure(e, ret);
  } catch (...) {
    e.noteEscapedFailure(false);
    *ret = AfterFailure(e, ret);
  }
  return S_OK;
}

#pragma push_macro("T")
#pragma push_macro("I")
#define T(name) (BSTR, name)
#define I(name) (int32_t, name)
#define QUORVANT_CTL_DEFINE(Name, Export, DispId, Result, Params)                          \
  HRESULT ZebCapiControl::Name(QUORVANT_CTL_FOR_EACH(QUORVANT_CTL_SIGNATURE_ITEM, Params)    \
                                   QUORVANT_CTL_RET_##Result* Ret) {                         \
    return forward(Ret, [](SecurityEngine& e, auto... a) { return e.Name(a...); }          \
                   QUORVANT_CTL_FOR_EACH(QUORVANT_CTL_ARGUMENT_ITEM, Params));              \
  }
QUORVANT_OPERATIONS(QUORVANT_CTL_DEFINE)
#undef QUORVANT_CTL_DEFINE
#undef T
#undef I
#pragma pop_macro("I")
#pragma pop_macro("T")

HRESULT ZebCapiControl::CountWeakKeys(int32_t count, int32_t* Ret) {
  return forward(Ret, [](SecurityEngine& e, int32_t n) { return e.CountWeakKeys(n); }, count);
}

// --- IObjectSafety -------------------------------------------------------------

namespace {

// The options an interface can be marked safe for: scripting through
// IDispatch, initialisation through the persistence interfaces (which the
// interface check refuses first here, as the control has none of them).
uint32_t SupportedSafety(const IID* riid) {
  if (SameGuid(riid, IID_IDispatch)) return INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  if (SameGuid(riid, IID_IPersistStreamInit) || SameGuid(riid, IID_IPersistStorage) ||
      SameGuid(riid, IID_IPersistPropertyBag)) {
    return INTERFACESAFE_FOR_UNTRUSTED_DATA;
  }
  return 0;
}

}  // namespace

HRESULT ZebCapiControl::GetInterfaceSafetyOptions(const IID* riid,
                                                  uint32_t* pdwSupportedOptions,
                                                  uint32_t* pdwEnabledOptions) {
  if (pdwSupportedOptions == nullptr || pdwEnabledOptions == nullptr) return E_POINTER;
  *pdwSupportedOptions = 0;
  *pdwEnabledOptions = 0;
  void* probe = nullptr;
  const HRESULT answered = QueryInterface(riid, &probe);
  if (answered != S_OK) return answered;
  TableOf(probe).release(probe);
  const uint32_t supported = SupportedSafety(riid);
  if (supported == 0) return E_FAIL;
  *pdwSupportedOptions = supported;
  *pdwEnabledOptions = safetyOptions & supported;
  return S_OK;
}

HRESULT ZebCapiControl::SetInterfaceSafetyOptions(const IID* riid, uint32_t dwOptionSetMask,
                                                  uint32_t dwEnabledOptions) {
  if (dwOptionSetMask == 0 || dwEnabledOptions == 0) return E_FAIL;
  void* probe = nullptr;
  const HRESULT answered = QueryInterface(riid, &probe);
  if (answered != S_OK) return answered;
  TableOf(probe).release(probe);
  safetyOptions |= dwOptionSetMask & dwEnabledOptions;
  const uint32_t supported = SupportedSafety(riid);
  return supported != 0 && (safetyOptions & supported) != 0 ? S_OK : E_FAIL;
}

}  // namespace quorvant::control
