// quorvant regsvr [-u] [--machine] [LIBRARY]
//
// Registers (or with -u unregisters) the automation control of LIBRARY, by
// default the libQuorvantATL.so this tool runs with: DllRegisterServer and
// DllUnregisterServer work on the user's side of HKEY_CLASSES_ROOT;
// --machine calls DllInstall(.., "machine") for HKEY_LOCAL_MACHINE (root
// only). Another LIBRARY is loaded with dlopen and registers its own path.
#include "regsvr_command.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>

#include "QuorvantControl.h"
#include "base/win32_errors.h"
#include "encoding/code_page.h"
#include "engine/error_messages.h"
#include "host/system_messages.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr, "usage: quorvant regsvr [-u] [--machine] [LIBRARY]\n");
  return kExitUsage;
}

struct Entries {
  HRESULT (*registerServer)();
  HRESULT (*unregisterServer)();
  HRESULT (*install)(BOOL, const OLECHAR*);
};

HRESULT Hresult(uint32_t win32Error) {
  return static_cast<HRESULT>(win32::HresultFromWin32(win32Error));
}

struct LibraryCloser {
  void operator()(void* handle) const { dlclose(handle); }
};

// The outcome as every command ends: the HRESULT with the system's text.
int PrintOutcome(HRESULT hr) {
  if (hr == S_OK) {
    std::printf("result: 0 %s\n", Utf8FromWide(ErrorMessageText(0)).c_str());
    return 0;
  }
  std::string_view text = SystemMessageLine(static_cast<uint32_t>(hr));
  std::printf("result: 0x%08X %.*s\n", static_cast<uint32_t>(hr), static_cast<int>(text.size()),
              text.data());
  return 1;
}

}  // namespace

int RegsvrCommand(const std::vector<std::string>& args) {
  bool unregister = false;
  bool machine = false;
  std::string library;
  for (const std::string& a : args) {
    if (a == "-u") {
      unregister = true;
    } else if (a == "--machine") {
      machine = true;
    } else if (!a.empty() && a[0] != '-' && library.empty()) {
      library = a;
    } else {
      return Usage();
    }
  }
  Entries entries{&DllRegisterServer, &DllUnregisterServer, &DllInstall};
  std::unique_ptr<void, LibraryCloser> handle;
  if (!library.empty()) {
    handle.reset(dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
      std::fprintf(stderr, "quorvant: %s\n", dlerror());
      return PrintOutcome(Hresult(win32::kErrorModNotFound));
    }
    entries.registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(handle.get(), "DllRegisterServer"));
    entries.unregisterServer =
        reinterpret_cast<HRESULT (*)()>(dlsym(handle.get(), "DllUnregisterServer"));
    entries.install =
        reinterpret_cast<HRESULT (*)(BOOL, const OLECHAR*)>(dlsym(handle.get(), "DllInstall"));
  }
  const char* entry = machine ? "DllInstall" : unregister ? "DllUnregisterServer" : "DllRegisterServer";
  HRESULT hr = S_OK;
  if (machine) {
    if (entries.install == nullptr) {
      std::fprintf(stderr, "quorvant: %s has no %s\n", library.c_str(), entry);
      return PrintOutcome(Hresult(win32::kErrorProcNotFound));
    }
    hr = entries.install(unregister ? 0 : 1, u"machine");
  } else {
    HRESULT (*call)() = unregister ? entries.unregisterServer : entries.registerServer;
    if (call == nullptr) {
      std::fprintf(stderr, "quorvant: %s has no %s\n", library.c_str(), entry);
      return PrintOutcome(Hresult(win32::kErrorProcNotFound));
    }
    hr = call();
  }
  const char* where = machine ? "HKEY_LOCAL_MACHINE\\Software\\Classes"
                              : "HKEY_CURRENT_USER\\Software\\Classes";
  std::printf("%s %s in %s: %s\n", entry, unregister ? "(unregister)" : "(register)",
              library.empty() ? "libQuorvantATL.so" : library.c_str(), where);
  return PrintOutcome(hr);
}

}  // namespace quorvant::cli
