// The component as the library's exports offer it. The host process serves
// one page, so the library's process-wide engine is that page's control: its
// state and codes are the page's own, and nothing of another page's. When the
// automation control's class factory answers, a connection's control can be
// made through DllGetClassObject instead, behind this same interface.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <type_traits>
#include <utility>

#include "QuorvantATL.h"
#include "component.h"
#include "exports/operation_table.h"

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

  CallResult call(const MethodInfo& method, const std::vector<Argument>& args) override {
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
  return component;
}

}  // namespace quorvant::bridge
