// The small interfaces through which the engine reaches the operating
// system. Production wiring builds the Linux ones (DefaultHostServices);
// tests replace any of them to reach every result code without root, a
// browser or a GUI.
#ifndef QUORVANT_HOST_SERVICES_H_
#define QUORVANT_HOST_SERVICES_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/environment.h"

namespace quorvant {

class Registry;

// The extended OS version record (OSVERSIONINFOEXA) as the engine reads it.
struct OsVersionInfo {
  uint32_t osVersionInfoSize = 148;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;
  std::array<char, 128> csdVersion{};
  uint16_t servicePackMajor = 0;
  uint16_t servicePackMinor = 0;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;
};

inline constexpr uint32_t kVerPlatformWin32Windows = 1;
inline constexpr uint32_t kVerPlatformWin32Nt = 2;
inline constexpr uint8_t kVerNtWorkstation = 1;
inline constexpr uint8_t kVerNtServer = 3;

class OsVersionSource {
 public:
  virtual ~OsVersionSource() = default;
  // False when the record cannot be read.
  virtual bool read(OsVersionInfo* out) = 0;
  // GetSystemMetrics(SM_SERVERR2).
  virtual bool isServerR2() = 0;
};

// Whether the hosting process runs sandboxed in the way the browser's
// protected mode sandboxes it; nearly every operation then refuses.
class ProtectedModeProbe {
 public:
  virtual ~ProtectedModeProbe() = default;
  virtual bool isProtectedMode() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t nowUnixSeconds() = 0;
};

// The component's own file version record, located through the module's
// file as the loader knows it.
struct FileVersion {
  uint16_t major = 0, minor = 0, build = 0, revision = 0;
};
class ModuleVersionReader {
 public:
  virtual ~ModuleVersionReader() = default;
  // False with the system error number when the record cannot be read.
  virtual bool read(FileVersion* out, uint32_t* error) = 0;
};

// The machine's network adapters as the OS lists them.
struct AdapterAddress {
  std::array<uint8_t, 8> bytes{};  // the hardware address, zero-padded
  uint32_t length = 0;
};
class NetworkAdapters {
 public:
  virtual ~NetworkAdapters() = default;
  // False when the list cannot be read.
  virtual bool list(std::vector<AdapterAddress>* out) = 0;
};

struct HostServices {
  std::shared_ptr<OsVersionSource> osVersion;
  // The variables as the OS holds them (UTF-8); base/environment.h.
  EnvLookup environment;
  std::shared_ptr<ProtectedModeProbe> protectedMode;
  std::shared_ptr<Clock> clock;
  std::shared_ptr<ModuleVersionReader> moduleVersion;
  std::shared_ptr<NetworkAdapters> adapters;
  std::shared_ptr<Registry> registry;
  // The name of the cross-process property store's section.
  std::string propertyStoreName = "QuorvantATL Module";
};

// The Linux implementations of every service above.
HostServices DefaultHostServices();

}  // namespace quorvant

#endif  // QUORVANT_HOST_SERVICES_H_
