// The component as the installed library offers it. A connection's control
// is made through the library's DllGetClassObject and called through
// IDispatch (GetIDsOfNames, then Invoke), so a page sees the control's
// methods and DISPIDs and nothing else. The host's own questions and policy
// reads go through the flat exports, on the library's process-wide engine,
// which the page never reaches. A library without the control's class (an
// older build) is called through its flat exports instead: the host process
// serves one page, so that engine is then the page's alone.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "QuorvantATL.h"
#include "QuorvantControl.h"
#include "component.h"
#include "operation_table.h"

namespace quorvant::bridge {
namespace {

struct LibraryCloser {
  void operator()(void* handle) const {
    if (handle != nullptr) ::dlclose(handle);
  }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

using SysStringLenFn = uint32_t (*)(BSTR);
using SysFreeStringFn = void (*)(BSTR);
using ConfirmSiteFn = int32_t (*)(const OLECHAR*, const OLECHAR*);
using ConfirmSigningFn = int32_t (*)(const OLECHAR*, const OLECHAR*, const OLECHAR*,
                                     const OLECHAR*, const OLECHAR*, const OLECHAR*);
using ReadFn = BSTR (*)(const OLECHAR*);
using WriteIntFn = int32_t (*)(const OLECHAR*, int32_t);
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using SysAllocStringLenFn = BSTR (*)(const OLECHAR*, uint32_t);

constexpr LCID kEnglishUs = 0x409;

// An argument as the export's parameter of that type wants it.
template <class P>
P Pass(const Argument& a);
template <>
const OLECHAR* Pass<const OLECHAR*>(const Argument& a) {
  return a.text.c_str();
}
template <>
int32_t Pass<int32_t>(const Argument& a) {
  return a.value;
}

class LibraryComponent final : public Component {
 public:
  LibraryComponent(LibraryHandle library) : library_(std::move(library)) {}

  bool bind(std::string* error) {
    sysStringLen_ = reinterpret_cast<SysStringLenFn>(symbol("SysStringLen"));
    sysFreeString_ = reinterpret_cast<SysFreeStringFn>(symbol("SysFreeString"));
    confirmSite_ = reinterpret_cast<ConfirmSiteFn>(symbol("QuorvantBridgeConfirmSite"));
    confirmSigning_ = reinterpret_cast<ConfirmSigningFn>(symbol("QuorvantBridgeConfirmSigning"));
    readHkcu_ = reinterpret_cast<ReadFn>(symbol("RegReadHKCU"));
    readHklm_ = reinterpret_cast<ReadFn>(symbol("RegReadHKLM"));
    writeInt_ = reinterpret_cast<WriteIntFn>(symbol("RegWriteHKCUInt"));
    for (const MethodInfo& m : MethodTable()) {
      void* fn = symbol(std::string(m.exportName).c_str());
      if (fn == nullptr) missing_ = std::string(m.exportName);
      exports_.push_back(fn);
    }
    if (!missing_.empty()) {
      *error = "the library lacks " + missing_;
      return false;
    }
    return true;
  }

  ~LibraryComponent() override {
    // Released before the library is unloaded with library_.
    if (control_ != nullptr) control_->Release();
  }

  // The connection's own control; false when the library has no control
  // class to hand out (the exports are used then).
  bool createControl(std::string* error) {
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(::dlsym(library_.get(), "DllGetClassObject"));
    sysAllocStringLen_ = reinterpret_cast<SysAllocStringLenFn>(::dlsym(library_.get(), "SysAllocStringLen"));
    if (getClassObject == nullptr || sysAllocStringLen_ == nullptr) return false;
    void* object = nullptr;
    HRESULT hr = getClassObject(&CLSID_ZEBCapi, &IID_IClassFactory, &object);
    if (hr == CLASS_E_CLASSNOTAVAILABLE) return false;
    if (hr != S_OK || object == nullptr) {
      *error = "the control's class factory failed: " + Hex(hr);
      return false;
    }
    auto* factory = static_cast<IClassFactory*>(object);
    object = nullptr;
    hr = factory->CreateInstance(nullptr, &IID_IDispatch, &object);
    factory->Release();
    if (hr != S_OK || object == nullptr) {
      *error = "the control cannot be created: " + Hex(hr);
      return false;
    }
    control_ = static_cast<IDispatch*>(object);
    // Every name resolved once, up front: a method the control does not
    // know is never offered to the page.
    for (const MethodInfo& m : MethodTable()) {
      std::u16string name(m.name.begin(), m.name.end());
      OLECHAR* names[] = {name.data()};
      DISPID id = DISPID_UNKNOWN;
      if (control_->GetIDsOfNames(&IID_NULL, names, 1, kEnglishUs, &id) != S_OK ||
          id != m.dispId) {
        *error = "the control does not answer " + std::string(m.name) + " as DISPID " +
                 std::to_string(m.dispId);
        control_->Release();
        control_ = nullptr;
        return false;
      }
      dispIds_.push_back(id);
    }
    return true;
  }

  bool hasControl() const { return control_ != nullptr; }

  CallResult call(const MethodInfo& method, const std::vector<Argument>& args) override {
    if (control_ != nullptr) return invoke(method, args);
    const size_t index = static_cast<size_t>(&method - MethodTable().data());
    void* fn = index < exports_.size() ? exports_[index] : nullptr;
    CallResult result;
    if (fn == nullptr || args.size() != method.paramCount) return result;
    // One typed call per operation, from the same table the library's own
    // exports are declared by.
#define T(n) const OLECHAR*
#define I(n) int32_t
#define X(Name, ExportName, DispId, Result, Params)                          \
  if (method.name == #Name) {                                                \
    using Fn = std::conditional_t<Result, BSTR, int32_t>(*) Params;                        \
    return invokeTyped(reinterpret_cast<Fn>(fn), args);                      \
  }
    QUORVANT_OPERATIONS(X)
#undef X
#undef I
#undef T
    return result;
  }

  int32_t confirmSite(const std::u16string& origin, const std::u16string& question) override {
    return confirmSite_(origin.c_str(), question.c_str());
  }

  int32_t confirmSigning(const std::u16string& origin, const std::u16string& content,
                         const std::u16string& serial, const std::u16string& commonName,
                         const std::u16string& notBefore,
                         const std::u16string& notAfter) override {
    return confirmSigning_(origin.c_str(), content.c_str(), serial.c_str(), commonName.c_str(),
                           notBefore.c_str(), notAfter.c_str());
  }

  std::u16string readPolicy(bool machine, const std::u16string& name) override {
    return take((machine ? readHklm_ : readHkcu_)(name.c_str()));
  }

  void rememberPolicy(const std::u16string& name, int32_t value) override {
    writeInt_(name.c_str(), value);
  }

 private:
  static std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
    return text;
  }

  // Automation passes the arguments last first.
  CallResult invoke(const MethodInfo& method, const std::vector<Argument>& args) {
    CallResult result;
    result.text = method.textResult;
    const size_t index = static_cast<size_t>(&method - MethodTable().data());
    if (index >= dispIds_.size() || args.size() != method.paramCount) return result;
    std::vector<VARIANT> variants(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      VARIANT& v = variants[args.size() - 1 - i];
      v = VARIANT{};
      if (args[i].kind == ParamKind::kText) {
        v.vt = VT_BSTR;
        v.bstrVal = sysAllocStringLen_(args[i].text.data(),
                                       static_cast<uint32_t>(args[i].text.size()));
      } else {
        v.vt = VT_I4;
        v.lVal = args[i].value;
      }
    }
    DISPPARAMS params{variants.data(), nullptr, static_cast<uint32_t>(variants.size()), 0};
    VARIANT out{};
    uint32_t argError = 0;
    const HRESULT hr = control_->Invoke(dispIds_[index], &IID_NULL, kEnglishUs, DISPATCH_METHOD,
                                        &params, &out, nullptr, &argError);
    for (VARIANT& v : variants) {
      if (v.vt == VT_BSTR) sysFreeString_(v.bstrVal);
    }
    if (hr != S_OK) return result;
    if (out.vt == VT_BSTR) {
      result.textValue = take(out.bstrVal);
    } else if (out.vt == VT_I4) {
      result.intValue = out.lVal;
    }
    return result;
  }

  static constexpr bool kText = true;
  static constexpr bool kInt = false;

  template <class R, class... P>
  CallResult invokeTyped(R (*fn)(P...), const std::vector<Argument>& args) {
    return [&]<size_t... K>(std::index_sequence<K...>) {
      CallResult result;
      if constexpr (std::is_same_v<R, BSTR>) {
        result.text = true;
        result.textValue = take(fn(Pass<P>(args[K])...));
      } else {
        result.intValue = fn(Pass<P>(args[K])...);
      }
      return result;
    }(std::index_sequence_for<P...>{});
  }

  std::u16string take(BSTR text) {
    if (text == nullptr) return std::u16string();
    std::u16string out(text, sysStringLen_(text));
    sysFreeString_(text);
    return out;
  }

  void* symbol(const char* name) {
    void* fn = ::dlsym(library_.get(), name);
    if (fn == nullptr && missing_.empty()) missing_ = name;
    return fn;
  }

  LibraryHandle library_;
  IDispatch* control_ = nullptr;
  std::vector<DISPID> dispIds_;
  SysAllocStringLenFn sysAllocStringLen_ = nullptr;
  std::vector<void*> exports_;
  std::string missing_;
  SysStringLenFn sysStringLen_ = nullptr;
  SysFreeStringFn sysFreeString_ = nullptr;
  ConfirmSiteFn confirmSite_ = nullptr;
  ConfirmSigningFn confirmSigning_ = nullptr;
  ReadFn readHkcu_ = nullptr;
  ReadFn readHklm_ = nullptr;
  WriteIntFn writeInt_ = nullptr;
};

}  // namespace

std::string InstalledLibraryPath() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string path(self, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  path.resize(slash);
  return path + "/../lib/libQuorvantATL.so.4";
}

std::unique_ptr<Component> LoadComponent(const std::string& path, std::string* error) {
  if (path.empty() || path.front() != '/') {
    *error = "the library's path is not absolute";
    return nullptr;
  }
  LibraryHandle library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) {
    const char* reason = ::dlerror();
    *error = std::string("cannot load the library: ") + (reason ? reason : path);
    return nullptr;
  }
  auto component = std::make_unique<LibraryComponent>(std::move(library));
  if (!component->bind(error)) return nullptr;
  if (!component->createControl(error) && !error->empty()) return nullptr;
  return component;
}

}  // namespace quorvant::bridge
