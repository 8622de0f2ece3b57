// The Linux stand-ins for the system services the engine uses.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include "base/environment.h"
#include "host/registry/data_paths.h"
#include "host/system/module_version.h"
#include "host/registry/registry.h"
#include "host/system/services.h"

namespace quorvant {
namespace {

// GetVersionExA answers a program without a compatibility manifest with
// 6.2 build 9200 on every release since Windows 8, and the component carries
// no manifest; that is the record the component has always seen on current
// systems, so its OS name and home-path rules behave as they do there.
class LinuxOsVersionSource final : public OsVersionSource {
 public:
  bool read(OsVersionInfo* out) override {
    *out = OsVersionInfo{};
    out->osVersionInfoSize = 156;  // the extended record
    out->majorVersion = 6;
    out->minorVersion = 2;
    out->buildNumber = 9200;
    out->platformId = kVerPlatformWin32Nt;
    out->productType = kVerNtWorkstation;
    return true;
  }
  bool isServerR2() override { return false; }
};

// A host that runs the component sandboxed the way the browser's protected
// mode does announces it with QUORVANT_PROTECTED_MODE=1 in the environment
// of the process; nothing else on Linux tells a library it is sandboxed.
class EnvironmentProtectedModeProbe final : public ProtectedModeProbe {
 public:
  bool isProtectedMode() override {
    return ProcessEnvironmentValue("QUORVANT_PROTECTED_MODE") == "1";
  }
};

class SystemClock final : public Clock {
 public:
  int64_t nowUnixSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
};

// The adapters with a hardware address, in the order the kernel lists its
// interfaces. Loopback has none worth reporting and is left out, as the
// platform's adapter list leaves it out.
class LinuxNetworkAdapters final : public NetworkAdapters {
 public:
  bool list(std::vector<AdapterAddress>* out) override {
    out->clear();
    struct ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0) return false;
    std::unique_ptr<struct ifaddrs, void (*)(struct ifaddrs*)> owner(head, ::freeifaddrs);
    for (const struct ifaddrs* a = head; a != nullptr; a = a->ifa_next) {
      if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) continue;
      if (a->ifa_flags & IFF_LOOPBACK) continue;
      const auto* link = reinterpret_cast<const struct sockaddr_ll*>(a->ifa_addr);
      AdapterAddress address;
      address.length = std::min<uint32_t>(link->sll_halen, address.bytes.size());
      std::memcpy(address.bytes.data(), link->sll_addr, address.length);
      out->push_back(address);
    }
    return true;
  }
};

}  // namespace

HostServices DefaultHostServices() {
  HostServices services;
  services.osVersion = std::make_shared<LinuxOsVersionSource>();
  services.environment = ProcessEnvironment();
  services.protectedMode = std::make_shared<EnvironmentProtectedModeProbe>();
  services.clock = std::make_shared<SystemClock>();
  services.moduleVersion = MakeModuleVersionReader();
  services.adapters = std::make_shared<LinuxNetworkAdapters>();
  services.registry = OpenSqliteRegistry(DefaultRegistryPaths(ProcessEnvironment()));
  return services;
}

}  // namespace quorvant
