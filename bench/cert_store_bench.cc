// The personal-store list over 10,000 certificates: GetIECertCount (one
// read of the store) and the seven GetIECert* getters of every entry, as a
// page that shows the whole list calls them. The store is a database of its
// own in a temporary directory, filled once with OpenSSL-made certificates.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "certs/test_certificates.h"
#include "engine/security_engine.h"
#include "platform/stores/cert_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

constexpr int kCertificates = 10000;

class PersonalStore {
 public:
  PersonalStore() {
    char pattern[] = "/tmp/quorvant-cert-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    directory_ = pattern;
    uint32_t error = 0;
    auto db = PlatformDatabase::Open(directory_ + "/platform.db", &error);
    if (!db) std::abort();
    // Filling needs no durability; reading is what is measured.
    sqlite3_exec(db->handle(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    stores_ = MakeDatabaseCertificateStores(db);
    CertStore my;
    if (stores_->openSystemStore("MY", &my) != 0) std::abort();
    for (int i = 0; i < kCertificates; ++i) {
      testing::TestCertificateOptions options;
      options.commonName = "Subscriber " + std::to_string(i);
      options.organization = "Example Bank";
      options.issuerCommonName = "Example Issuing CA";
      options.serial = 0x1000000000ull + static_cast<uint64_t>(i);
      options.keyUsage = KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION;
      if (my.addEncoded(testing::MakeTestCertificate(options), AddDisposition::kAlways) != 0) {
        std::abort();
      }
    }
  }
  ~PersonalStore() { std::filesystem::remove_all(directory_); }

  std::unique_ptr<SecurityEngine> makeEngine() const {
    EngineServices services;
    services.host = DefaultHostServices();
    services.dialogs = MakeNoDialogHost();
    services.stores = stores_;
    return std::make_unique<SecurityEngine>(std::move(services));
  }

 private:
  std::string directory_;
  std::shared_ptr<CertificateStores> stores_;
};

const PersonalStore& Store() {
  static const PersonalStore store;
  return store;
}

void BM_GetIECertCount(benchmark::State& state) {
  auto engine = Store().makeEngine();
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->GetIECertCount());
  }
  state.SetItemsProcessed(state.iterations() * kCertificates);
}
BENCHMARK(BM_GetIECertCount)->Unit(benchmark::kMillisecond);

void BM_GetIECertCountAndAllGetters(benchmark::State& state) {
  auto engine = Store().makeEngine();
  size_t characters = 0;
  for (auto _ : state) {
    const int32_t count = engine->GetIECertCount();
    if (count != kCertificates) {
      state.SkipWithError("the store does not hold the certificates");
      break;
    }
    for (int32_t i = 1; i <= count; ++i) {
      characters += engine->GetIECertSerial(i).size();
      characters += engine->GetIECertCommonName(i).size();
      characters += engine->GetIECertSubject(i).size();
      characters += engine->GetIECertIssuer(i).size();
      characters += engine->GetIECertNotBefore(i).size();
      characters += engine->GetIECertNotAfter(i).size();
      characters += engine->GetIECertFinger(i).size();
    }
  }
  benchmark::DoNotOptimize(characters);
  state.SetItemsProcessed(state.iterations() * kCertificates);
  state.counters["calls"] = benchmark::Counter(1.0 + 7.0 * kCertificates);
}
BENCHMARK(BM_GetIECertCountAndAllGetters)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvant

BENCHMARK_MAIN();
