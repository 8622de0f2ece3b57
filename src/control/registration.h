// The control's registration: its class, ProgIDs, category, type library
// and interface keys under a side's Software\Classes, which HKEY_CLASSES_ROOT
// merges (the user's side over the machine's).
//
// Both directions return a Win32 error number (0 for success) as the
// registry store does.
#ifndef QUORVANT_CONTROL_REGISTRATION_H_
#define QUORVANT_CONTROL_REGISTRATION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/registry/registry.h"

namespace quorvant::control {

enum class RegistrationSide {
  kUser,     // HKEY_CURRENT_USER\Software\Classes
  kMachine,  // HKEY_LOCAL_MACHINE\Software\Classes (root only)
};

// All or nothing: when a write fails, every key and value this call created,
// replaced or removed is put back as it was, and the first failure is
// returned. `modulePath` is the library's file (UTF-8).
[[nodiscard]] uint32_t RegisterControl(Registry& registry, RegistrationSide side,
                                       std::string_view modulePath);

// Removes what RegisterControl writes. A key already absent counts as
// removed; a ProgID key is removed only while it names this control's
// CLSID; HKCR\CLSID itself stays. Goes on past a failure and returns the
// first one.
[[nodiscard]] uint32_t UnregisterControl(Registry& registry, RegistrationSide side);

// The absolute path of the file holding this code, as the loader opened it
// (the directory resolved, the file name kept, so a versioned library is
// registered under the name its callers load).
std::optional<std::string> ThisModulePath();

}  // namespace quorvant::control

#endif  // QUORVANT_CONTROL_REGISTRATION_H_
