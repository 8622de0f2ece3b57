// Signing beside OpenSSL in one run: an RSA-2048 signer in MY among 20
// certificates and the same signer in a PFX file, a 1 KiB text. Printed at
// the end, each of our operations against what it adds to OpenSSL's own
// work:
//   SignPkcs1 (MY)       vs EVP_PKEY_sign of the same SHA-1 digest  (+0.3 ms)
//   SignPkcs7 (MY)       vs SignPkcs1 (MY)                          (+0.3 ms)
//   SignPkcs1 (PFX)      vs PKCS12_parse of the same file            (+1 ms)
// Times are CPU time per operation. The key, certificate and PFX file are
// made by OpenSSL's command line.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "best_run_reporter.h"
#include "base/openssl.h"
#include "certs/test_certificates.h"
#include "engine/security_engine.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;

const std::u16string& Content() {
  static const std::u16string text(512, u'簽');  // 1 KiB of UTF-16
  return text;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class Fixture {
 public:
  Fixture() {
    char pattern[] = "/tmp/quorvant-sign-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    setenv("QUORVANT_HOME", dir_.c_str(), 1);
    const std::string d = dir_.string();
    // A self-signed certificate counts as an authority, which the filter
    // skips: the signer is issued by a CA of its own.
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/ca.key -out " + d +
        "/ca.pem -days 365 -subj '/CN=Bench CA' && "
        "openssl req -newkey rsa:2048 -nodes -keyout " + d + "/k.pem -out " + d +
        "/s.csr -subj '/O=Bench/CN=Bench Signer' && "
        "openssl x509 -req -in " + d + "/s.csr -CA " + d + "/ca.pem -CAkey " + d +
        "/ca.key -set_serial 77 -days 365 -out " + d + "/c.pem && "
        "openssl pkcs12 -export -inkey " + d + "/k.pem -in " + d + "/c.pem -out " + d +
        "/s.pfx -passout pass:bench";
    if (std::system(("(" + make + ") >/dev/null 2>&1").c_str()) != 0) {
      std::abort();
    }
    stores_ = MakeDatabaseCertificateStores(PlatformDatabase::DefaultPath());
    CertStore my;
    if (stores_->openSystemStore("MY", &my) != 0) std::abort();
    for (int i = 0; i < 19; ++i) {
      if (my.addEncoded(testing::MakeTestCertificate("Other " + std::to_string(i), 100 + i),
                        AddDisposition::kAlways) != 0) {
        std::abort();
      }
    }
    PfxStore pfx;
    if (pfx.open(d + "/s.pfx", "bench", 1) != 0) std::abort();
    pfx.setRemoveKeysOnClose(false);
    std::vector<CertContext> certificates;
    if (pfx.store().enumerate(&certificates) != 0) std::abort();
    for (const CertContext& c : certificates) {
      if (my.addContext(c, AddDisposition::kNew) != 0) std::abort();
    }
    pfxBytes_ = ReadAll(d + "/s.pfx");
    FILE* keyFile = std::fopen((d + "/k.pem").c_str(), "r");
    key_.reset(PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr));
    std::fclose(keyFile);
    if (!key_) std::abort();
  }
  ~Fixture() { fs::remove_all(dir_); }

  std::unique_ptr<SecurityEngine> engine(bool fromPfx) const {
    EngineServices services;
    services.host = DefaultHostServices();
    services.host.propertyStoreName = "QuorvantATL sign bench";
    services.dialogs = MakeNoDialogHost();
    services.stores = stores_;
    auto e = std::make_unique<SecurityEngine>(std::move(services));
    const int32_t code =
        fromPfx ? e->SelectSignerEx(u"S_CN=Bench Signer", std::u16string(dir_.u16string()),
                                    u"s.pfx", u"bench", u"", 0x208, 0)
                : e->SelectSigner(u"S_CN=Bench Signer", 0x108, 0);
    if (code != 0) {
      std::fprintf(stderr, "selection failed: %d\n", code);
      std::abort();
    }
    return e;
  }
  EVP_PKEY* key() const { return key_.get(); }
  const std::vector<uint8_t>& pfxBytes() const { return pfxBytes_; }

 private:
  fs::path dir_;
  std::shared_ptr<CertificateStores> stores_;
  std::vector<uint8_t> pfxBytes_;
  OsslPtr<EVP_PKEY> key_;
};

const Fixture& TheFixture() {
  static const Fixture fixture;
  return fixture;
}

void OpensslSign(benchmark::State& state) {
  const Fixture& f = TheFixture();
  unsigned char digest[20];
  const auto* bytes = reinterpret_cast<const unsigned char*>(Content().data());
  EVP_Digest(bytes, Content().size() * 2, digest, nullptr, EVP_sha1(), nullptr);
  for (auto _ : state) {
    OsslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(OpensslContext(), f.key(), nullptr));
    EVP_PKEY_sign_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1());
    unsigned char signature[256];
    size_t length = sizeof signature;
    if (EVP_PKEY_sign(ctx.get(), signature, &length, digest, sizeof digest) != 1) {
      state.SkipWithError("EVP_PKEY_sign failed");
    }
    benchmark::DoNotOptimize(signature);
  }
}

void OpensslOpenPfx(benchmark::State& state) {
  const Fixture& f = TheFixture();
  for (auto _ : state) {
    const unsigned char* p = f.pfxBytes().data();
    OsslPtr<PKCS12> p12(d2i_PKCS12(nullptr, &p, static_cast<long>(f.pfxBytes().size())));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    if (!p12 || PKCS12_parse(p12.get(), "bench", &key, &cert, nullptr) != 1) {
      state.SkipWithError("PKCS12_parse failed");
    }
    EVP_PKEY_free(key);
    X509_free(cert);
  }
}

template <bool kPkcs7, bool kFromPfx>
void OurSign(benchmark::State& state) {
  auto engine = TheFixture().engine(kFromPfx);
  for (auto _ : state) {
    Text signature = kPkcs7 ? engine->SignPkcs7(Content(), 0) : engine->SignPkcs1(Content(), 0);
    if (engine->GetErrorCode() != 0) state.SkipWithError("signing failed");
    benchmark::DoNotOptimize(signature);
  }
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  using namespace quorvant;
  benchmark::RegisterBenchmark("openssl/EVP_PKEY_sign", OpensslSign)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("openssl/PKCS12_parse", OpensslOpenPfx)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours/SignPkcs1/MY", OurSign<false, false>)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours/SignPkcs7/MY", OurSign<true, false>)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("ours/SignPkcs1/PFX", OurSign<false, true>)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  // CPU time: every step is on this thread, and on a shared machine the
  // wall clock mostly measures the other processes.
  bench::BestRunReporter reporter(bench::BestOf::kCpuSeconds);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  struct Row {
    const char* ours;
    const char* base;
    double budgetMs;
  };
  const Row rows[] = {{"ours/SignPkcs1/MY", "openssl/EVP_PKEY_sign", 0.3},
                      {"ours/SignPkcs7/MY", "ours/SignPkcs1/MY", 0.3},
                      {"ours/SignPkcs1/PFX", "openssl/PKCS12_parse", 1.0}};
  std::printf("\n%-20s %-22s %9s %9s %7s %9s %s\n", "ours", "against", "cpu ms", "base ms",
              "ratio", "added ms", "budget");
  for (const Row& r : rows) {
    const double ours = reporter.best(r.ours) * 1e3, base = reporter.best(r.base) * 1e3;
    if (ours == 0 || base == 0) continue;
    std::printf("%-20s %-22s %9.3f %9.3f %7.2f %9.3f +%.1f ms %s\n", r.ours, r.base, ours, base,
                ours / base, ours - base, r.budgetMs,
                ours - base <= r.budgetMs ? "within" : "OVER");
  }
  return 0;
}
