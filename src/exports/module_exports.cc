// The module's registration and class-factory entry points, over the
// automation control (src/control).
#include <memory>
#include <string_view>

#include "QuorvantControl.h"
#include "base/win32_errors.h"
#include "control/module_state.h"
#include "control/registration.h"
#include "host/registry/data_paths.h"
#include "host/registry/registry.h"

namespace {

using quorvant::control::RegistrationSide;

enum class Direction { kRegister, kUnregister };

HRESULT Registration(Direction direction, RegistrationSide side) noexcept {
  try {
    std::unique_ptr<quorvant::Registry> registry = quorvant::OpenSqliteRegistry(
        quorvant::DefaultRegistryPaths(quorvant::ProcessEnvironment()));
    if (!registry) return E_OUTOFMEMORY;
    uint32_t error = 0;
    if (direction == Direction::kRegister) {
      const std::optional<std::string> module = quorvant::control::ThisModulePath();
      if (!module) return SELFREG_E_CLASS;
      error = quorvant::control::RegisterControl(*registry, side, *module);
    } else {
      error = quorvant::control::UnregisterControl(*registry, side);
    }
    return static_cast<HRESULT>(quorvant::win32::HresultFromWin32(error));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

bool SameWord(const OLECHAR* text, std::u16string_view word) {
  std::u16string_view given(text);
  if (given.size() != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t c = given[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" {

QUORVANT_API HRESULT DllCanUnloadNow(void) {
  return quorvant::control::ModuleInUse() ? S_FALSE : S_OK;
}

QUORVANT_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return quorvant::control::GetClassObject(rclsid, riid, ppv);
}

// Per-user registration: HKEY_CLASSES_ROOT's writable side.
QUORVANT_API HRESULT DllRegisterServer(void) {
  return Registration(Direction::kRegister, RegistrationSide::kUser);
}
QUORVANT_API HRESULT DllUnregisterServer(void) {
  return Registration(Direction::kUnregister, RegistrationSide::kUser);
}

QUORVANT_API HRESULT DllInstall(BOOL bInstall, const OLECHAR* pszCmdLine) {
  RegistrationSide side = RegistrationSide::kUser;
  if (pszCmdLine != nullptr && SameWord(pszCmdLine, u"machine")) {
    side = RegistrationSide::kMachine;
  } else if (pszCmdLine != nullptr && !SameWord(pszCmdLine, u"user")) {
    return E_INVALIDARG;
  }
  return Registration(bInstall ? Direction::kRegister : Direction::kUnregister, side);
}

}  // extern "C"
