#include "host/system/home_path.h"

#include "encoding/code_page.h"

namespace quorvant {
namespace {

// GetEnvironmentVariableA into a 255-byte buffer: a value that does not fit
// with its terminator is not returned.
constexpr size_t kEnvironmentBufferSize = 255;

std::string ReadVariable(const EnvLookup& environment, const char* name) {
  if (!environment) return std::string();
  std::optional<std::string> value = environment(name);
  if (!value || value->empty()) return std::string();
  std::string narrow = NarrowFromOsText(*value);
  if (narrow.size() >= kEnvironmentBufferSize) return std::string();
  return narrow;
}

}  // namespace

std::string ComputeUserHomePath(const OsVersionInfo& osVersion, const EnvLookup& environment) {
  if (osVersion.majorVersion <= 4) {
    std::string windowsDirectory = ReadVariable(environment, "WINDIR");
    if (windowsDirectory.size() < 2) windowsDirectory = "C:\\WINDOWS";
    return windowsDirectory.substr(0, 2) + "\\My Documents";
  }
  std::string profile = ReadVariable(environment, "USERPROFILE");
  if (!profile.empty()) return profile;
  return ReadVariable(environment, "HOME");
}

}  // namespace quorvant
