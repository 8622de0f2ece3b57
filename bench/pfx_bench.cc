// The PFX operations against OpenSSL's PKCS #12 routines on the same file,
// in one run: ImportPfxToIE beside PKCS12_parse, ExportPfxFromIE beside
// PKCS12_create (and the write), ChangePfxPasswd beside PKCS12_parse plus
// PKCS12_create. Both sides use the same algorithms (PBES2 with
// PBKDF2-HMAC-SHA-256 and AES-256-CBC, a SHA-256 MAC, 10,000 iterations) on
// a 2048-bit key. The table at the end gives time(ours) / time(OpenSSL).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "best_run_reporter.h"
#include "encoding/code_page.h"
#include "engine/security_engine.h"
#include "platform/stores/cert_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

constexpr char kPassword[] = "bench-password";
constexpr int kIterations = 10000;

// Answers dialog 206 with the folder and password it was given.
class AcceptingDialogs final : public DialogHost {
 public:
  DialogOutcome fileDialog(const FileDialogRequest& request, FileDialogValues* values) override {
    *values = request.values;
    values->confirmation = values->password;
    return DialogOutcome::kOk;
  }
};

struct Fixture {
  std::filesystem::path dir;
  std::string pfx;  // the file's bytes
  std::unique_ptr<SecurityEngine> engine;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;

  Fixture() {
    char pattern[] = "/tmp/quorvant-pfx-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    dir = pattern;
    ::setenv("QUORVANT_HOME", (dir / "home").c_str(), 1);
    key = EVP_RSA_gen(2048);
    cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x1234);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 86400);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Bench Holder"), -1, -1, 0);
    X509_NAME* issuer = X509_get_issuer_name(cert);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Bench CA"), -1, -1, 0);
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    pfx = Create(kPassword);
    std::ofstream(dir / "bench.pfx", std::ios::binary) << pfx;

    EngineServices services;
    services.host = DefaultHostServices();
    services.dialogs = std::make_shared<AcceptingDialogs>();
    services.stores = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
    engine = std::make_unique<SecurityEngine>(std::move(services));
  }
  ~Fixture() {
    engine.reset();
    X509_free(cert);
    EVP_PKEY_free(key);
    std::filesystem::remove_all(dir);
  }

  std::string Create(const char* password) const {
    PKCS12* p12 = PKCS12_create_ex(password, "holder", key, cert, nullptr, NID_aes_256_cbc,
                                   NID_aes_256_cbc, kIterations, kIterations, 0, nullptr,
                                   nullptr);
    if (p12 == nullptr || PKCS12_set_mac(p12, password, -1, nullptr, 0, kIterations,
                                         EVP_sha256()) != 1) {
      std::abort();
    }
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    PKCS12_free(p12);
    return out;
  }

  std::u16string Dir() const { return WideFromUtf8(dir.string()); }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Parse(const std::string& bytes, const char* password, EVP_PKEY** key, X509** cert) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()));
  if (p12 == nullptr || PKCS12_parse(p12, password, key, cert, nullptr) != 1) std::abort();
  PKCS12_free(p12);
}

void BM_Import_Ours(benchmark::State& state) {
  Fixture& f = TheFixture();
  for (auto _ : state) {
    if (f.engine->ImportPfxToIE(f.Dir(), u"bench.pfx", u"bench-password", 1, 0) != 0) {
      state.SkipWithError("ImportPfxToIE failed");
      break;
    }
  }
}

void BM_Import_OpenSSL(benchmark::State& state) {
  Fixture& f = TheFixture();
  for (auto _ : state) {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Parse(ReadFile(f.dir / "bench.pfx"), kPassword, &key, &cert);
    EVP_PKEY_free(key);
    X509_free(cert);
  }
}

void BM_Export_Ours(benchmark::State& state) {
  Fixture& f = TheFixture();
  if (f.engine->ImportPfxToIE(f.Dir(), u"bench.pfx", u"bench-password", 1, 0) != 0) std::abort();
  const std::u16string out = WideFromUtf8((f.dir / "out").string());
  for (auto _ : state) {
    if (f.engine->ExportPfxFromIE(u"", out, u"bench-password", 0, 0) != 0) {
      state.SkipWithError("ExportPfxFromIE failed");
      break;
    }
  }
}

void BM_Export_OpenSSL(benchmark::State& state) {
  Fixture& f = TheFixture();
  std::filesystem::create_directories(f.dir / "out");
  for (auto _ : state) {
    std::ofstream(f.dir / "out" / "openssl.pfx", std::ios::binary) << f.Create(kPassword);
  }
}

void BM_ChangePassword_Ours(benchmark::State& state) {
  Fixture& f = TheFixture();
  std::ofstream(f.dir / "change.pfx", std::ios::binary) << f.pfx;
  bool flip = false;
  for (auto _ : state) {
    const char16_t* from = flip ? u"second-password" : u"bench-password";
    const char16_t* to = flip ? u"bench-password" : u"second-password";
    if (f.engine->ChangePfxPasswd(f.Dir(), u"change.pfx", from, to, 0) != 0) {
      state.SkipWithError("ChangePfxPasswd failed");
      break;
    }
    flip = !flip;
  }
}

void BM_ChangePassword_OpenSSL(benchmark::State& state) {
  Fixture& f = TheFixture();
  for (auto _ : state) {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    Parse(f.pfx, kPassword, &key, &cert);
    std::ofstream(f.dir / "openssl-change.pfx", std::ios::binary) << f.Create("second-password");
    EVP_PKEY_free(key);
    X509_free(cert);
  }
}

BENCHMARK(BM_Import_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangePassword_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangePassword_OpenSSL)->Unit(benchmark::kMillisecond);

// The best wall time of each, in milliseconds.
void PrintTable(const bench::BestRunReporter& r) {
  std::printf("\n%-16s %12s %12s %7s\n", "operation", "ours ms", "openssl ms", "ratio");
  for (const char* name : {"Import", "Export", "ChangePassword"}) {
    const double ours = r.best(std::string("BM_") + name + "_Ours") * 1e3;
    const double openssl = r.best(std::string("BM_") + name + "_OpenSSL") * 1e3;
    if (ours == 0 || openssl == 0) continue;
    std::printf("%-16s %12.2f %12.2f %7.2f\n", name, ours, openssl, ours / openssl);
  }
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quorvant::bench::BestRunReporter reporter(quorvant::bench::BestOf::kRealSeconds);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  quorvant::PrintTable(reporter);
  benchmark::Shutdown();
  return 0;
}
