// Enrolment beside OpenSSL's own RSA key generation, in one run:
// CreatePKCS10 with 2048-bit keys (key generation, the weak-key test, the
// request and the pending-key record) against EVP_PKEY_keygen of a 2048-bit
// key, each the median of 30 runs, and the weak-key test alone. The ratio of
// the medians (wall and CPU time) is printed at the end. RSA key generation
// time varies widely with the primes found, so the ratio moves by some 20%
// from run to run. Key containers and records go to a
// temporary directory.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/openssl.h"
#include "engine/security_engine.h"
#include "enroll/weak_key.h"
#include "host/registry/registry.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/key_blob.h"
#include "platform/database/platform_database.h"
#include "platform/keys/rsa_key.h"

namespace quorvant {
namespace {

constexpr int kRuns = 30;

class Workspace {
 public:
  Workspace() {
    char pattern[] = "/tmp/quorvant-enrol-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    directory_ = pattern;
    uint32_t error = 0;
    db_ = PlatformDatabase::Open(directory_ + "/platform.db", &error);
    if (!db_) std::abort();
    RegistryPaths paths;
    paths.currentUser = directory_ + "/registry.db";
    paths.localMachine = directory_ + "/machine.db";
    registry_ = OpenSqliteRegistry(paths);
  }
  ~Workspace() { std::filesystem::remove_all(directory_); }

  std::unique_ptr<SecurityEngine> makeEngine() const {
    EngineServices services;
    services.host = DefaultHostServices();
    services.host.registry = registry_;
    services.dialogs = MakeNoDialogHost();
    services.stores = MakeDatabaseCertificateStores(db_);
    services.enroll.keyDatabase = db_;
    return std::make_unique<SecurityEngine>(std::move(services));
  }

 private:
  std::string directory_;
  std::shared_ptr<PlatformDatabase> db_;
  std::shared_ptr<Registry> registry_;
};

void BM_OpensslRsaKeygen2048(benchmark::State& state) {
  for (auto _ : state) {
    OsslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(OpensslContext(), "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 2048) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1) {
      state.SkipWithError("OpenSSL key generation failed");
      break;
    }
    EVP_PKEY_free(key);
  }
}
BENCHMARK(BM_OpensslRsaKeygen2048)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ReportAggregatesOnly(true);

void BM_CreatePKCS10_2048(benchmark::State& state) {
  static const Workspace workspace;
  auto engine = workspace.makeEngine();
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->CreatePKCS10(u"Benchmark Subscriber", 2048, 1));
    if (engine->GetErrorCode() != 0) {
      state.SkipWithError("CreatePKCS10 failed");
      break;
    }
  }
}
BENCHMARK(BM_CreatePKCS10_2048)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ReportAggregatesOnly(true);

void BM_WeakKeyTest2048(benchmark::State& state) {
  OsslPtr<EVP_PKEY> key;
  ByteBuffer blob;
  if (GenerateRsaKey(2048, &key) != 0 || EncodeRsaPrivateKeyBlob(key.get(), 0xA400, &blob) != 0) {
    state.SkipWithError("no key");
    return;
  }
  for (auto _ : state) {
    const bool weak = IsWeakRsaKeyBlob(blob.bytes());
    if (weak) state.SkipWithError("a sound key counted as weak");
    benchmark::DoNotOptimize(weak);
  }
}
BENCHMARK(BM_WeakKeyTest2048)->Unit(benchmark::kMicrosecond);

// Keeps the medians of the repeated runs for the closing ratio.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") {
        medians[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  struct Median {
    double real = 0;
    double cpu = 0;
  };
  std::map<std::string, Median> medians;
};

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quorvant::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ours = reporter.medians.find("BM_CreatePKCS10_2048");
  const auto theirs = reporter.medians.find("BM_OpensslRsaKeygen2048");
  if (ours != reporter.medians.end() && theirs != reporter.medians.end() &&
      theirs->second.real > 0 && theirs->second.cpu > 0) {
    // Wall time includes the writes of the container and the record reaching
    // the disk; CPU time shows the work alone.
    std::printf("\nCreatePKCS10 (2048 bits) median %.1f ms, OpenSSL key generation median %.1f ms: "
                "ratio %.2f (CPU time %.1f ms / %.1f ms: %.2f)\n",
                ours->second.real, theirs->second.real, ours->second.real / theirs->second.real,
                ours->second.cpu, theirs->second.cpu, ours->second.cpu / theirs->second.cpu);
  }
  benchmark::Shutdown();
  return 0;
}
