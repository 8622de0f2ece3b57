// Replaceable host services for engine tests.
#ifndef QUORVANT_TESTS_ENGINE_FAKE_SERVICES_H_
#define QUORVANT_TESTS_ENGINE_FAKE_SERVICES_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "engine/security_engine.h"
#include "platform/stores/cert_store.h"

namespace quorvant::testing {

class FakeOsVersion final : public OsVersionSource {
 public:
  bool ok = true;
  OsVersionInfo info = [] {
    OsVersionInfo v;
    v.majorVersion = 6;
    v.minorVersion = 2;
    v.platformId = kVerPlatformWin32Nt;
    v.productType = kVerNtWorkstation;
    return v;
  }();
  bool serverR2 = false;
  bool read(OsVersionInfo* out) override {
    if (ok) *out = info;
    return ok;
  }
  bool isServerR2() override { return serverR2; }
};

class FakeEnvironment {
 public:
  std::map<std::string, std::string> values;
  std::optional<std::string> get(const char* name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
};

class FakeProtectedMode final : public ProtectedModeProbe {
 public:
  bool on = false;
  bool isProtectedMode() override { return on; }
};

class FakeClock final : public Clock {
 public:
  int64_t now = 1371958275;  // 2013-06-23 03:31:15 UTC
  int64_t nowUnixSeconds() override { return now; }
};

class FakeModuleVersion final : public ModuleVersionReader {
 public:
  bool ok = true;
  uint32_t error = 1813;
  FileVersion version{4, 2, 0, 0};
  bool read(FileVersion* out, uint32_t* errorOut) override {
    if (!ok) {
      *errorOut = error;
      return false;
    }
    *out = version;
    *errorOut = 0;
    return true;
  }
};

class FakeAdapters final : public NetworkAdapters {
 public:
  bool ok = true;
  std::vector<AdapterAddress> adapters;
  bool list(std::vector<AdapterAddress>* out) override {
    if (ok) *out = adapters;
    return ok;
  }
};

// A private directory, removed with everything in it when the last owner
// lets go.
class TestDirectory {
 public:
  TestDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvant-test-XXXXXX");
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TestDirectory(const TestDirectory&) = delete;
  TestDirectory& operator=(const TestDirectory&) = delete;
  ~TestDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A bundle of fakes that a test adjusts before building its engine.
struct FakeServices {
  std::shared_ptr<FakeOsVersion> osVersion = std::make_shared<FakeOsVersion>();
  std::shared_ptr<FakeEnvironment> environment = std::make_shared<FakeEnvironment>();
  std::shared_ptr<FakeProtectedMode> protectedMode = std::make_shared<FakeProtectedMode>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<FakeModuleVersion> moduleVersion = std::make_shared<FakeModuleVersion>();
  std::shared_ptr<FakeAdapters> adapters = std::make_shared<FakeAdapters>();
  std::shared_ptr<Registry> registry;  // set by tests that use one
  std::string propertyStoreName = "QuorvantATL test " + std::to_string(::getpid());
  std::shared_ptr<DialogHost> dialogs = MakeNoDialogHost();
  // The user's platform database, one per bundle: the certificate stores
  // live in <dataDirectory>/platform.db.
  std::shared_ptr<TestDirectory> dataDirectory = std::make_shared<TestDirectory>();
  std::shared_ptr<CertificateStores> stores =
      MakeDatabaseCertificateStores(dataDirectory->path() + "/platform.db");

  EngineServices engineServices() const {
    EngineServices s;
    s.host.osVersion = osVersion;
    s.host.environment = [env = environment](const char* name) { return env->get(name); };
    s.host.protectedMode = protectedMode;
    s.host.clock = clock;
    s.host.moduleVersion = moduleVersion;
    s.host.adapters = adapters;
    s.host.registry = registry;
    s.host.propertyStoreName = propertyStoreName;
    s.dialogs = dialogs;
    s.stores = stores;
    return s;
  }
  std::unique_ptr<SecurityEngine> makeEngine() const {
    return std::make_unique<SecurityEngine>(engineServices());
  }
};

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_ENGINE_FAKE_SERVICES_H_
