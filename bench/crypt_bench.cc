// Encryption of 1 MiB of text against OpenSSL on the same bytes in one run:
// SymEncrypt (block-by-block provider calls, Base64 out) against one EVP
// DES-EDE3-CBC pass, and CertEncryptPkcs7 / CertDecryptPkcs7 (Triple-DES,
// Base64 both ways) against PKCS7_encrypt / PKCS7_decrypt. The recipient's
// key lives in a verification context behind a memory store, so nothing
// touches the disk. Prints each pair's time ratio and the bound it is held
// to.
#include <benchmark/benchmark.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "best_run_reporter.h"
#include "base/openssl.h"
#include "crypt/envelope.h"
#include "dialogs/dialog_host.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "engine/security_engine.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

constexpr size_t kBytes = 1 << 20;
constexpr int32_t kAnsi = 0x800;
const std::u16string kKey = u"0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";

// 1 MiB of printable text, as the interface carries it and as its bytes.
const std::u16string& Text() {
  static const std::u16string text = [] {
    std::u16string t(kBytes, u'a');
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<char16_t>(u' ' + i * 31 % 95);
    return t;
  }();
  return text;
}
const std::string& TextBytes() {
  static const std::string bytes = ToNarrow(Text());
  return bytes;
}

// The recipient: a fresh RSA key pair and its self-signed certificate, and
// a personal store that holds it with its key.
class Recipient final : public CertificateStores {
 public:
  Recipient() {
    key_.reset(EVP_RSA_gen(2048));
    cert_.reset(X509_new());
    X509_NAME* name = X509_get_subject_name(cert_.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
    X509_set_issuer_name(cert_.get(), name);
    ASN1_INTEGER_set(X509_get_serialNumber(cert_.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert_.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert_.get()), 86400);
    X509_set_pubkey(cert_.get(), key_.get());
    if (X509_sign(cert_.get(), key_.get(), EVP_sha256()) <= 0) std::abort();
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert_.get(), &der);
    ByteBuffer b64;
    if (!Base64Encode(der, length, b64)) std::abort();
    certText_ = WideFromUtf8(std::string(b64.view()));

    ByteBuffer blob;
    std::unique_ptr<ProviderContext> context;
    std::unique_ptr<CryptKey> imported;
    CertContext added;
    store_ = CertStore::OpenMemory();
    if (EncodeRsaPrivateKeyBlob(key_.get(), kCalgRsaKeyx, &blob) != 0 ||
        ProviderContext::Acquire({}, kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext,
                                 &context) != 0 ||
        context->importKey(blob.bytes(), 0, &imported) != 0 ||
        store_.addEncoded(std::span(der, static_cast<size_t>(length)), AddDisposition::kAlways,
                          &added) != 0) {
      std::abort();
    }
    OPENSSL_free(der);
    added.setKeyContext(CertKeyContext{std::shared_ptr<ProviderContext>(std::move(context)),
                                       kAtKeyExchange});
  }
  uint32_t openSystemStore(std::string_view, CertStore* out) override {
    *out = store_;
    return 0;
  }
  X509* cert() const { return cert_.get(); }
  EVP_PKEY* key() const { return key_.get(); }
  const std::u16string& certText() const { return certText_; }

 private:
  OsslPtr<EVP_PKEY> key_;
  OsslPtr<X509> cert_;
  std::u16string certText_;
  CertStore store_;
};

std::shared_ptr<Recipient> TheRecipient() {
  static const std::shared_ptr<Recipient> recipient = std::make_shared<Recipient>();
  return recipient;
}

std::unique_ptr<SecurityEngine> MakeEngine() {
  EngineServices services;
  services.host = DefaultHostServices();
  services.dialogs = MakeNoDialogHost();
  services.stores = TheRecipient();
  return std::make_unique<SecurityEngine>(std::move(services));
}

void Check(bool ok, benchmark::State& state, const char* what) {
  if (!ok) state.SkipWithError(what);
}

void BM_SymEncrypt(benchmark::State& state) {
  auto engine = MakeEngine();
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->SymEncrypt(Text(), kKey, 0, kAnsi));
  }
  Check(engine->GetErrorCode() == 0, state, "SymEncrypt failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_OpensslTripleDesCbc(benchmark::State& state) {
  OsslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(OpensslContext(), "DES-EDE3-CBC", nullptr));
  OsslPtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  const unsigned char key[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  const unsigned char iv[8] = {};
  std::string out(kBytes + 8, '\0');
  for (auto _ : state) {
    int n = 0;
    int f = 0;
    EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key, iv, nullptr);
    EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                      reinterpret_cast<const unsigned char*>(TextBytes().data()),
                      static_cast<int>(kBytes));
    EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &f);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_CertEncryptPkcs7(benchmark::State& state) {
  auto engine = MakeEngine();
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine->CertEncryptPkcs7(Text(), TheRecipient()->certText(), 0, kAnsi));
  }
  Check(engine->GetErrorCode() == 0, state, "CertEncryptPkcs7 failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

OsslPtr<PKCS7> OpensslEnvelope() {
  OsslPtr<X509Stack> recipients(sk_X509_new_null());
  X509_up_ref(TheRecipient()->cert());
  sk_X509_push(recipients.get(), TheRecipient()->cert());
  OsslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(OpensslContext(), "DES-EDE3-CBC", nullptr));
  OsslPtr<BIO> in(BIO_new_mem_buf(TextBytes().data(), static_cast<int>(kBytes)));
  return OsslPtr<PKCS7>(PKCS7_encrypt_ex(recipients.get(), in.get(), cipher.get(), PKCS7_BINARY,
                                         OpensslContext(), nullptr));
}

void BM_OpensslPkcs7Encrypt(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OpensslEnvelope());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_CertDecryptPkcs7(benchmark::State& state) {
  auto engine = MakeEngine();
  const std::u16string envelope = engine->CertEncryptPkcs7(Text(), TheRecipient()->certText(), 0, kAnsi);
  bool same = true;
  for (auto _ : state) {
    const std::u16string text = engine->CertDecryptPkcs7(envelope, kAnsi);
    same = same && text.size() == kBytes;
  }
  Check(engine->GetErrorCode() == 0 && same, state, "CertDecryptPkcs7 failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_OpensslPkcs7Decrypt(benchmark::State& state) {
  OsslPtr<PKCS7> envelope = OpensslEnvelope();
  for (auto _ : state) {
    OsslPtr<BIO> out(BIO_new(BIO_s_mem()));
    if (PKCS7_decrypt(envelope.get(), TheRecipient()->key(), TheRecipient()->cert(), out.get(),
                      PKCS7_BINARY) <= 0) {
      state.SkipWithError("PKCS7_decrypt failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

BENCHMARK(BM_SymEncrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslTripleDesCbc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CertEncryptPkcs7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslPkcs7Encrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CertDecryptPkcs7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslPkcs7Decrypt)->Unit(benchmark::kMillisecond);


void PrintRatios(const bench::BestRunReporter& r) {
  struct Pair {
    const char* ours;
    const char* openssl;
    double bound;
  } pairs[] = {{"BM_SymEncrypt", "BM_OpensslTripleDesCbc", 1.5},
               {"BM_CertEncryptPkcs7", "BM_OpensslPkcs7Encrypt", 1.3},
               {"BM_CertDecryptPkcs7", "BM_OpensslPkcs7Decrypt", 1.3}};
  std::printf("\n%-22s %10s %10s %7s %6s\n", "1 MiB", "ours ms", "openssl ms", "ratio", "bound");
  for (const Pair& p : pairs) {
    const double ours = r.best(p.ours) * 1e3;
    const double ossl = r.best(p.openssl) * 1e3;
    if (ours == 0.0 || ossl == 0.0) continue;
    std::printf("%-22s %10.2f %10.2f %7.3f %6.1f%s\n", p.ours + 3, ours, ossl, ours / ossl, p.bound,
                ours / ossl > p.bound ? "  OVER" : "");
  }
}

}  // namespace
}  // namespace quorvant

int main(int argc, char** argv) {
  if (!quorvant::bench::InitializeRepeated(argc, argv)) return 1;
  quorvant::bench::BestRunReporter reporter(quorvant::bench::BestOf::kCpuSeconds);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  quorvant::PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
