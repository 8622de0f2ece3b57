// Providers, key containers, key pairs and their export rules, signatures.
// Key blobs leave through OpenSSL's own MSBLOB reader and signatures are
// checked by the openssl command and by OpenSSL's RSA, never by this layer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBits1024 = 1024u << 16;

Bytes ToBytes(const ByteBuffer& b) { return Bytes(b.data(), b.data() + b.size()); }

Bytes Reversed(const ByteBuffer& b) {
  Bytes r = ToBytes(b);
  std::reverse(r.begin(), r.end());
  return r;
}

Bytes Digest(const EVP_MD* md, std::string_view data) {
  Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr), 1);
  return out;
}

OsslPtr<BIGNUM> Number(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1) << name;
  return OsslPtr<BIGNUM>(bn);
}

// CryptCreateHash, CryptSetHashParam(HP_HASHVAL), CryptSignHash.
uint32_t SignDigest(ProviderContext& ctx, uint32_t hashAlg, const Bytes& digest, uint32_t keySpec,
                    ByteBuffer* signature) {
  std::unique_ptr<CryptHash> hash;
  if (const uint32_t error = ctx.createHash(hashAlg, &hash)) return error;
  if (const uint32_t error = hash->setHashValue(digest)) return error;
  return ctx.signHash(*hash, keySpec, 0, signature);
}

// A key read from a blob by OpenSSL's MSBLOB reader.
OsslPtr<EVP_PKEY> ReadWithOpenssl(const ByteBuffer& blob) {
  const unsigned char* in = blob.data();
  return OsslPtr<EVP_PKEY>(blob.data()[0] == kPrivatekeyblob ? b2i_PrivateKey(&in, blob.size())
                                                      : b2i_PublicKey(&in, blob.size()));
}

void WriteFile(const fs::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

int RunCommand(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs fn in a forked child and gives its exit code (-1 when it did not
// exit normally). The child leaves with _exit.
pid_t StartChild(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-keys-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    uint32_t error = 0;
    db_ = PlatformDatabase::Open((dir_ / "platform.db").string(), &error);
    ASSERT_NE(db_, nullptr) << error;
  }
  void TearDown() override {
    db_.reset();
    fs::remove_all(dir_);
  }

  uint32_t acquire(std::string_view container, uint32_t flags,
                   std::unique_ptr<ProviderContext>* out,
                   std::string_view provider = kMsEnhancedProv, uint32_t type = kProvRsaFull) {
    return ProviderContext::Acquire(container, provider, type, flags, out, db_);
  }

  std::unique_ptr<ProviderContext> newContainer(std::string_view name,
                                                std::string_view provider = kMsEnhancedProv,
                                                uint32_t type = kProvRsaFull) {
    std::unique_ptr<ProviderContext> ctx;
    EXPECT_EQ(acquire(name, kCryptNewkeyset, &ctx, provider, type), 0u) << name;
    return ctx;
  }

  // Verifies a CryptSignHash signature with the openssl command: the
  // public key goes through OpenSSL's MSBLOB reader, the signature is
  // reversed into the big-endian octet string of RFC 8017.
  void expectOpensslVerifies(const CryptKey& key, const char* digestName, const Bytes& digest,
                             const ByteBuffer& signature) {
    ByteBuffer publicBlob;
    ASSERT_EQ(key.exportKey(kPublickeyblob, 0, &publicBlob), 0u);
    WriteFile(dir_ / "pub.blob", publicBlob.bytes());
    WriteFile(dir_ / "digest.bin", digest);
    WriteFile(dir_ / "sig.bin", Reversed(signature));
    const std::string d = dir_.string();
    ASSERT_EQ(RunCommand("openssl pkey -pubin -inform MSBLOB -in " + d + "/pub.blob -pubout -out " +
                         d + "/pub.pem"),
              0);
    EXPECT_EQ(RunCommand("openssl pkeyutl -verify -pubin -inkey " + d +
                         "/pub.pem -pkeyopt digest:" + digestName + " -in " + d +
                         "/digest.bin -sigfile " + d + "/sig.bin"),
              0)
        << digestName;
    // A signature of another digest must not verify.
    Bytes other = digest;
    other[0] ^= 1;
    WriteFile(dir_ / "digest.bin", other);
    EXPECT_NE(RunCommand("openssl pkeyutl -verify -pubin -inkey " + d +
                         "/pub.pem -pkeyopt digest:" + digestName + " -in " + d +
                         "/digest.bin -sigfile " + d + "/sig.bin"),
              0);
  }

  fs::path dir_;
  std::shared_ptr<PlatformDatabase> db_;
};

TEST(CryptoProvidersTest, EnumerationOrderAndTypes) {
  std::vector<std::pair<std::string, uint32_t>> listed;
  const CryptoProviderInfo* provider = nullptr;
  uint32_t index = 0;
  while (CryptoProviders::Enumerate(index++, &provider) == 0) {
    listed.emplace_back(std::string(provider->name), provider->type);
  }
  EXPECT_EQ(CryptoProviders::Enumerate(index, &provider), win32::kErrorNoMoreItems);
  EXPECT_EQ(provider, nullptr);
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"Microsoft Base Cryptographic Provider v1.0", 1},
      {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
      {"Microsoft Enhanced RSA and AES Cryptographic Provider", 24},
      {"Microsoft Strong Cryptographic Provider", 1},
  };
  EXPECT_EQ(listed, expected);
}

TEST(CryptoProvidersTest, ResolveLikeAcquireContext) {
  struct Case {
    const char* name;
    uint32_t type;
    uint32_t error;
    const char* chosen;
  };
  const Case cases[] = {
      {kMsEnhancedProv, 1, 0, kMsEnhancedProv},
      {kMsEnhRsaAesProv, 24, 0, kMsEnhRsaAesProv},
      {kMsDefProv, 1, 0, kMsDefProv},
      {"", 1, 0, kMsStrongProv},
      {"", 24, 0, kMsEnhRsaAesProv},
      {kMsEnhancedProv, 24, win32::kNteProvTypeNoMatch, nullptr},
      {kMsEnhRsaAesProv, 1, win32::kNteProvTypeNoMatch, nullptr},
      {"Microsoft enhanced Cryptographic Provider v1.0", 1, win32::kNteKeysetNotDef, nullptr},
      {"Some Smart Card Provider", 1, win32::kNteKeysetNotDef, nullptr},
      {"", 13, win32::kNteProvTypeNotDef, nullptr},
      {kMsEnhancedProv, 0, win32::kNteBadProvType, nullptr},
      {kMsEnhancedProv, 1000, win32::kNteBadProvType, nullptr},
  };
  for (const Case& c : cases) {
    const CryptoProviderInfo* provider = nullptr;
    EXPECT_EQ(CryptoProviders::Resolve(c.name, c.type, &provider), c.error)
        << c.name << " " << c.type;
    if (c.chosen) {
      ASSERT_NE(provider, nullptr);
      EXPECT_EQ(provider->name, c.chosen);
    }
  }
}

TEST_F(ProviderTest, AcquireRejectsFlagsAndNames) {
  struct Case {
    const char* what;
    std::string container;
    uint32_t flags;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {"unknown flag", "c", 0x100, win32::kNteBadFlags},
      {"new and delete", "c", kCryptNewkeyset | kCryptDeletekeyset, win32::kNteBadFlags},
      {"verify and new", "", kCryptVerifycontext | kCryptNewkeyset, win32::kNteBadFlags},
      {"verify with a name", "c", kCryptVerifycontext, win32::kNteBadFlags},
      {"part of verify", "", 0x10000000, win32::kNteBadFlags},
      {"machine key set", "c", kCryptMachineKeyset, win32::kNteBadFlags},
      {"name of 261 bytes", std::string(261, 'n'), kCryptNewkeyset, win32::kNteBadKeysetParam},
      {"name with a zero byte", std::string("a\0b", 3), kCryptNewkeyset, win32::kNteBadKeysetParam},
      {"name of 260 bytes", std::string(260, 'n'), kCryptNewkeyset, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ProviderContext> ctx;
    EXPECT_EQ(acquire(c.container, c.flags, &ctx), c.error) << c.what;
    EXPECT_EQ(ctx != nullptr, c.error == 0) << c.what;
  }
  std::unique_ptr<ProviderContext> ctx;
  EXPECT_EQ(acquire("c", kCryptNewkeyset, &ctx, kMsEnhancedProv, kProvRsaAes),
            win32::kNteProvTypeNoMatch);
  EXPECT_EQ(acquire("c", kCryptNewkeyset, &ctx, "No Such Provider", 1), win32::kNteKeysetNotDef);
  EXPECT_EQ(acquire("c", kCryptNewkeyset, &ctx, kMsEnhancedProv, 0), win32::kNteBadProvType);
}

TEST_F(ProviderTest, ContainerLifecycle) {
  std::unique_ptr<ProviderContext> ctx;
  EXPECT_EQ(acquire("Alice", 0, &ctx), win32::kNteBadKeyset);
  EXPECT_EQ(acquire("Alice", kCryptDeletekeyset, &ctx), win32::kNteBadKeyset);
  ASSERT_EQ(acquire("Alice", kCryptNewkeyset, &ctx), 0u);
  EXPECT_EQ(ctx->containerName(), "Alice");
  EXPECT_EQ(ctx->provider().name, kMsEnhancedProv);
  EXPECT_FALSE(ctx->verifyContext());

  // Names match without regard to case, and the software providers share
  // their containers.
  std::unique_ptr<ProviderContext> other;
  EXPECT_EQ(acquire("Alice", kCryptNewkeyset, &other), win32::kNteExists);
  EXPECT_EQ(acquire("ALICE", kCryptNewkeyset, &other), win32::kNteExists);
  EXPECT_EQ(acquire("alice", kCryptNewkeyset, &other, kMsEnhRsaAesProv, kProvRsaAes),
            win32::kNteExists);
  ASSERT_EQ(acquire("aLiCe", 0, &other, kMsEnhRsaAesProv, kProvRsaAes), 0u);
  EXPECT_EQ(other->containerName(), "Alice");
  EXPECT_EQ(acquire("Alice Chen", 0, &other), win32::kNteBadKeyset);

  std::unique_ptr<ProviderContext> none;
  EXPECT_EQ(acquire("ALICE", kCryptDeletekeyset, &none), 0u);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(acquire("Alice", 0, &other), win32::kNteBadKeyset);
  EXPECT_EQ(acquire("Alice", kCryptDeletekeyset, &none), win32::kNteBadKeyset);

  // A context whose container went away can no longer store or find keys,
  // not even when a container of the same name is made again.
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->genKey(kAtSignature, kBits1024, &key), win32::kNteBadKeyset);
  auto again = newContainer("Alice");
  ASSERT_EQ(again->genKey(kAtSignature, kBits1024, &key), 0u);
  EXPECT_EQ(ctx->getUserKey(kAtSignature, &key), win32::kNteBadKeyset);
}

TEST_F(ProviderTest, DefaultContainerIsNamedAfterTheUser) {
  std::unique_ptr<ProviderContext> ctx;
  EXPECT_EQ(acquire("", 0, &ctx), win32::kNteBadKeyset);
  ASSERT_EQ(acquire("", kCryptNewkeyset, &ctx), 0u);
  const passwd* user = getpwuid(geteuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(ctx->containerName(), user->pw_name);
  EXPECT_EQ(acquire(user->pw_name, 0, &ctx), 0u);
}

// Container names given in the code page (here Big5, the default) and as
// UTF-16 in a certificate's key provider information meet.
TEST_F(ProviderTest, NarrowAndWideContainerNamesMeet) {
  auto ctx = newContainer("\xA4\xA4-key");  // "中-key" in Big5
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(ctx->genKey(kAtKeyExchange, 512u << 16, &key), 0u);
  const KeyProviderInfo info = ctx->keyProviderInfo(kAtKeyExchange);
  EXPECT_EQ(info.containerName, u"\u4E2D-key");
  std::unique_ptr<ProviderContext> acquired;
  uint32_t keySpec = 0;
  EXPECT_EQ(AcquireCertificatePrivateKey(info, 0, &acquired, &keySpec, db_), 0u);
}

TEST_F(ProviderTest, GenKeyAlgorithmsSizesAndFlags) {
  auto ctx = newContainer("gen");
  struct Case {
    const char* what;
    uint32_t algId;
    uint32_t flags;
    uint32_t error;
    uint32_t bits;
  };
  const Case cases[] = {
      {"key exchange 1024", kAtKeyExchange, kBits1024 | kCryptExportable, 0, 1024},
      {"signature by algorithm", kCalgRsaSign, kBits1024, 0, 1024},
      {"exchange by algorithm, default size", kCalgRsaKeyx, 0, 0, 1024},
      {"2048 bits", kAtSignature, (2048u << 16) | kCryptArchivable, 0, 2048},
      {"512 bits", kAtKeyExchange, 512u << 16, 0, 512},
      {"496 bits", kAtKeyExchange, 496u << 16, win32::kNteBadFlags, 0},
      {"16400 bits", kAtKeyExchange, 16400u << 16, win32::kNteBadFlags, 0},
      {"1000 bits", kAtKeyExchange, 1000u << 16, win32::kNteBadFlags, 0},
      {"CRYPT_CREATE_SALT", kAtKeyExchange, kBits1024 | 0x4, win32::kNteBadFlags, 0},
      {"DES", static_cast<uint32_t>(CALG_DES), 0, win32::kNteBadAlgid, 0},
      {"key keySpec 3", 3, kBits1024, win32::kNteBadAlgid, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<CryptKey> key;
    ASSERT_EQ(ctx->genKey(c.algId, c.flags, &key), c.error) << c.what;
    if (c.error != 0) continue;
    EXPECT_EQ(key->bitLength(), c.bits) << c.what;
    EXPECT_EQ(key->flags(), c.flags & 0xFFFF) << c.what;
    const uint32_t keySpec = (c.algId == kAtSignature || c.algId == kCalgRsaSign) ? 2 : 1;
    EXPECT_EQ(key->keySpec(), keySpec);
    EXPECT_EQ(key->algId(), keySpec == 2 ? kCalgRsaSign : kCalgRsaKeyx);
    // The container now holds this very key.
    std::unique_ptr<CryptKey> stored;
    ASSERT_EQ(ctx->getUserKey(keySpec, &stored), 0u);
    EXPECT_EQ(EVP_PKEY_eq(stored->rsaKey(), key->rsaKey()), 1) << c.what;
  }
  // The Base provider's default size is 512 bits.
  auto base = newContainer("base", kMsDefProv);
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(base->genKey(kAtSignature, 0, &key), 0u);
  EXPECT_EQ(key->bitLength(), 512u);
}

TEST_F(ProviderTest, GetUserKeyErrors) {
  auto ctx = newContainer("keys");
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->getUserKey(kAtKeyExchange, &key), win32::kNteNoKey);
  EXPECT_EQ(ctx->getUserKey(0, &key), win32::kNteBadKey);
  EXPECT_EQ(ctx->getUserKey(3, &key), win32::kNteBadKey);
  ASSERT_EQ(ctx->genKey(kAtSignature, kBits1024, &key), 0u);
  EXPECT_EQ(ctx->getUserKey(kAtKeyExchange, &key), win32::kNteNoKey);

  // A damaged stored key is reported, not used.
  ASSERT_EQ(sqlite3_exec(db_->handle(), "UPDATE container_keys SET blob = substr(blob, 1, 100)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(ctx->getUserKey(kAtSignature, &key), win32::kNteKeysetEntryBad);
}

// A generated key's PRIVATEKEYBLOB, read by OpenSSL's own MSBLOB reader, is
// the key OpenSSL holds: every number equal.
TEST_F(ProviderTest, PrivateKeyBlobHoldsTheGeneratedKey) {
  auto ctx = newContainer("blob");
  for (const uint32_t keySpec : {kAtKeyExchange, kAtSignature}) {
    for (const uint32_t bits : {1024u, 2048u}) {
      std::unique_ptr<CryptKey> key;
      ASSERT_EQ(ctx->genKey(keySpec, (bits << 16) | kCryptExportable, &key), 0u);
      ByteBuffer blob;
      ASSERT_EQ(key->exportKey(kPrivatekeyblob, 0, &blob), 0u);
      ASSERT_EQ(blob.size(), static_cast<int32_t>(20 + 9 * bits / 16));
      const uint32_t alg = keySpec == kAtSignature ? 0x2400 : 0xA400;
      const Bytes header = {
          7,   2,   0,   0,  static_cast<uint8_t>(alg), static_cast<uint8_t>(alg >> 8), 0, 0,
          'R', 'S', 'A', '2'};
      EXPECT_TRUE(std::equal(header.begin(), header.end(), blob.data()));
      OsslPtr<EVP_PKEY> read = ReadWithOpenssl(blob);
      ASSERT_NE(read, nullptr);
      for (const char* name :
           {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_D,
            OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
            OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
        EXPECT_EQ(BN_cmp(Number(read.get(), name).get(), Number(key->rsaKey(), name).get()), 0)
            << name << " " << bits;
      }
      EXPECT_EQ(EVP_PKEY_get_bits(read.get()), static_cast<int>(bits));

      // The public blob is the private one's beginning under type 6, "RSA1".
      ByteBuffer publicBlob;
      ASSERT_EQ(key->exportKey(kPublickeyblob, 0, &publicBlob), 0u);
      Bytes expected(blob.data(), blob.data() + 20 + bits / 8);
      expected[0] = 6;
      expected[11] = '1';
      EXPECT_EQ(ToBytes(publicBlob), expected);
    }
  }
}

// Export rules for every combination of the three flags, through the
// handle of creation and through a handle of a later context.
TEST_F(ProviderTest, ExportRulesForEveryFlagCombination) {
  struct Case {
    uint32_t flags;
    bool creatorMayExport;
    bool laterMayExport;
  };
  const uint32_t e = kCryptExportable, a = kCryptArchivable, u = kCryptUserProtected;
  const Case cases[] = {
      {0, false, false}, {e, true, true},     {a, true, false},     {e | a, true, true},
      {u, false, false}, {e | u, true, true}, {a | u, true, false}, {e | a | u, true, true},
  };
  for (const Case& c : cases) {
    const std::string name = "flags-" + std::to_string(c.flags);
    SCOPED_TRACE(name);
    std::unique_ptr<CryptKey> creator;
    {
      auto ctx = newContainer(name);
      ASSERT_EQ(ctx->genKey(kAtKeyExchange, (512u << 16) | c.flags, &creator), 0u);
    }
    ByteBuffer blob;
    EXPECT_EQ(creator->exportKey(kPrivatekeyblob, 0, &blob),
              c.creatorMayExport ? 0u : win32::kNteBadKeyState);
    EXPECT_EQ(blob.empty(), !c.creatorMayExport);
    EXPECT_EQ(creator->exportKey(kPublickeyblob, 0, &blob), 0u);

    std::unique_ptr<ProviderContext> later;
    ASSERT_EQ(acquire(name, 0, &later), 0u);
    std::unique_ptr<CryptKey> reopened;
    ASSERT_EQ(later->getUserKey(kAtKeyExchange, &reopened), 0u);
    EXPECT_EQ(reopened->flags(), c.flags);
    EXPECT_EQ(reopened->exportKey(kPrivatekeyblob, 0, &blob),
              c.laterMayExport ? 0u : win32::kNteBadKeyState);
    EXPECT_EQ(reopened->exportKey(kPublickeyblob, 0, &blob), 0u);

    // In a silent context a user-protected key is never used, since that
    // would need the user.
    std::unique_ptr<ProviderContext> silent;
    ASSERT_EQ(acquire(name, kCryptSilent, &silent), 0u);
    ASSERT_EQ(silent->getUserKey(kAtKeyExchange, &reopened), 0u);
    const bool prompts = (c.flags & u) != 0;
    EXPECT_EQ(
        reopened->exportKey(kPrivatekeyblob, 0, &blob),
        !c.laterMayExport ? win32::kNteBadKeyState : (prompts ? win32::kNteSilentContext : 0u));
    EXPECT_EQ(SignDigest(*silent, kCalgSha1, Digest(EVP_sha1(), "abc"), kAtKeyExchange, &blob),
              prompts ? win32::kNteSilentContext : 0u);
  }
}

TEST_F(ProviderTest, ExportKeyRejections) {
  auto ctx = newContainer("export");
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(ctx->genKey(kAtSignature, kBits1024 | kCryptExportable, &key), 0u);
  ByteBuffer blob;
  EXPECT_EQ(key->exportKey(1 /* SIMPLEBLOB */, 0, &blob), win32::kNteBadType);
  EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0x40, &blob), win32::kNteBadFlags);
  EXPECT_EQ(key->exportKey(kPlaintextkeyblob, 0, &blob), win32::kNteBadKey);
  EXPECT_TRUE(blob.empty());

  std::unique_ptr<ProviderContext> silent;
  ASSERT_EQ(acquire("export", kCryptSilent, &silent), 0u);
  EXPECT_EQ(silent->genKey(kAtSignature, kBits1024 | kCryptUserProtected, &key),
            win32::kNteSilentContext);
}

// A key pair made by OpenSSL enters through its PRIVATEKEYBLOB (written by
// OpenSSL's MSBLOB writer), leaves unchanged, and signs exactly as OpenSSL
// signs with it.
TEST_F(ProviderTest, ImportedKeyPairSignsLikeOpenssl) {
  OsslPtr<EVP_PKEY> reference(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  ASSERT_GT(i2b_PrivateKey_bio(bio.get(), reference.get()), 0);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  const Bytes blob(data, data + length);

  auto ctx = newContainer("imported");
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(ctx->importKey(blob, kCryptExportable, &key), 0u);
  EXPECT_EQ(key->keySpec(), kAtKeyExchange);  // CALG_RSA_KEYX in the header
  EXPECT_EQ(key->flags(), kCryptExportable);

  std::unique_ptr<ProviderContext> later;
  ASSERT_EQ(acquire("imported", 0, &later), 0u);
  std::unique_ptr<CryptKey> stored;
  ASSERT_EQ(later->getUserKey(kAtKeyExchange, &stored), 0u);
  ByteBuffer exported;
  ASSERT_EQ(stored->exportKey(kPrivatekeyblob, 0, &exported), 0u);
  EXPECT_EQ(ToBytes(exported), blob);

  for (const EVP_MD* md : {EVP_md5(), EVP_sha1()}) {
    const Bytes digest = Digest(md, "The quick brown fox");
    OsslPtr<EVP_PKEY_CTX> sign(EVP_PKEY_CTX_new(reference.get(), nullptr));
    size_t sigLength = 512;
    Bytes expected(sigLength);
    ASSERT_EQ(EVP_PKEY_sign_init(sign.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(sign.get(), RSA_PKCS1_PADDING), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(sign.get(), md), 1);
    ASSERT_EQ(EVP_PKEY_sign(sign.get(), expected.data(), &sigLength, digest.data(), digest.size()),
              1);
    expected.resize(sigLength);

    ByteBuffer signature;
    ASSERT_EQ(SignDigest(*later, md == EVP_md5() ? kCalgMd5 : kCalgSha1, digest, kAtKeyExchange,
                         &signature),
              0u);
    EXPECT_EQ(Reversed(signature), expected);
  }
}

TEST_F(ProviderTest, ImportRules) {
  OsslPtr<EVP_PKEY> reference(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024}));
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  ASSERT_GT(i2b_PrivateKey_bio(bio.get(), reference.get()), 0);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  Bytes blob(data, data + length);
  blob[4] = 0x00;
  blob[5] = 0x24;  // CALG_RSA_SIGN: the container's signature key

  auto ctx = newContainer("import");
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->importKey(blob, kCryptArchivable, &key), win32::kNteBadFlags);
  EXPECT_EQ(ctx->importKey(std::span(blob).first(3), 0, &key), win32::kNteBadData);
  Bytes simple = blob;
  simple[0] = 1;
  EXPECT_EQ(ctx->importKey(simple, 0, &key), win32::kNteBadType);
  Bytes badVersion = blob;
  badVersion[1] = 1;
  EXPECT_EQ(ctx->importKey(badVersion, 0, &key), win32::kNteBadVer);

  // Not exportable: the importing handle cannot export it either.
  ASSERT_EQ(ctx->importKey(blob, 0, &key), 0u);
  EXPECT_EQ(key->keySpec(), kAtSignature);
  ByteBuffer out;
  EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0, &out), win32::kNteBadKeyState);
  EXPECT_EQ(ctx->getUserKey(kAtKeyExchange, &key), win32::kNteNoKey);
  ASSERT_EQ(ctx->getUserKey(kAtSignature, &key), 0u);
  EXPECT_EQ(EVP_PKEY_eq(key->rsaKey(), reference.get()), 1);

  ByteBuffer publicBlob;
  ASSERT_EQ(key->exportKey(kPublickeyblob, 0, &publicBlob), 0u);

  std::unique_ptr<ProviderContext> silent;
  ASSERT_EQ(acquire("import", kCryptSilent, &silent), 0u);
  EXPECT_EQ(silent->importKey(blob, kCryptUserProtected, &key), win32::kNteSilentContext);
  EXPECT_EQ(key, nullptr);

  // A public key is a handle only; the container is unchanged.
  auto fresh = newContainer("public");
  ASSERT_EQ(fresh->importKey(publicBlob.bytes(), 0, &key), 0u);
  EXPECT_EQ(key->keySpec(), 0u);
  EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0, &out), win32::kNteBadKey);
  ASSERT_EQ(key->exportKey(kPublickeyblob, 0, &out), 0u);
  EXPECT_EQ(ToBytes(out), ToBytes(publicBlob));
  EXPECT_EQ(fresh->getUserKey(kAtSignature, &key), win32::kNteNoKey);
}

// Signatures of MD5 and SHA-1 digests at 1024 and 2048 bits and one SHA-1
// signature with a 4096-bit key, checked by the openssl command.
TEST_F(ProviderTest, SignaturesVerifyWithOpensslCommand) {
  struct Case {
    uint32_t bits;
    uint32_t keySpec;
    uint32_t hashAlg;
    const EVP_MD* md;
    const char* name;
  };
  const Case cases[] = {
      {1024, kAtKeyExchange, kCalgMd5, EVP_md5(), "md5"},
      {1024, kAtSignature, kCalgSha1, EVP_sha1(), "sha1"},
      {2048, kAtKeyExchange, kCalgSha1, EVP_sha1(), "sha1"},
      {2048, kAtSignature, kCalgMd5, EVP_md5(), "md5"},
      {4096, kAtSignature, kCalgSha1, EVP_sha1(), "sha1"},
  };
  auto ctx = newContainer("signer");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " " + c.name);
    std::unique_ptr<CryptKey> key;
    ASSERT_EQ(ctx->genKey(c.keySpec, c.bits << 16, &key), 0u);
    const Bytes digest = Digest(c.md, "signed text");
    ByteBuffer signature;
    ASSERT_EQ(SignDigest(*ctx, c.hashAlg, digest, c.keySpec, &signature), 0u);
    EXPECT_EQ(signature.size(), static_cast<int32_t>(c.bits / 8));
    expectOpensslVerifies(*key, c.name, digest, signature);
  }
}

TEST_F(ProviderTest, Sha2OnlyThroughTheAesProvider) {
  auto full = newContainer("sha2-full");
  std::unique_ptr<CryptHash> hash;
  for (const uint32_t alg : {kCalgSha256, kCalgSha384, kCalgSha512, 0x8001u /* MD2 */}) {
    EXPECT_EQ(full->createHash(alg, &hash), win32::kNteBadAlgid) << alg;
  }
  auto aes = newContainer("sha2-aes", kMsEnhRsaAesProv, kProvRsaAes);
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(aes->genKey(kAtSignature, kBits1024, &key), 0u);
  const Bytes digest = Digest(EVP_sha256(), "request");
  ByteBuffer signature;
  ASSERT_EQ(SignDigest(*aes, kCalgSha256, digest, kAtSignature, &signature), 0u);
  expectOpensslVerifies(*key, "sha256", digest, signature);

  // SHA-512's DigestInfo and padding (94 bytes) do not fit a 512-bit key.
  ASSERT_EQ(aes->genKey(kAtKeyExchange, 512u << 16, &key), 0u);
  EXPECT_EQ(SignDigest(*aes, kCalgSha512, Digest(EVP_sha512(), "x"), kAtKeyExchange, &signature),
            win32::kNteBadLen);
}

TEST_F(ProviderTest, HashObjectStatesAndSignErrors) {
  auto ctx = newContainer("hash");
  std::unique_ptr<CryptHash> hash;
  ASSERT_EQ(ctx->createHash(kCalgSha1, &hash), 0u);
  EXPECT_EQ(hash->setHashValue(Bytes(19)), win32::kNteBadLen);
  EXPECT_EQ(hash->setHashValue(Bytes(21)), win32::kNteBadLen);
  // FIPS 180-4 example: SHA-1("abc").
  ASSERT_EQ(hash->hashData(Bytes{'a', 'b'}), 0u);
  ASSERT_EQ(hash->hashData(Bytes{'c'}), 0u);
  ByteBuffer value;
  ASSERT_EQ(hash->hashValue(&value), 0u);
  EXPECT_EQ(ToBytes(value), Digest(EVP_sha1(), "abc"));
  EXPECT_EQ(hash->hashData(Bytes{'d'}), win32::kNteBadHashState);
  EXPECT_EQ(hash->setHashValue(Bytes(20)), win32::kNteBadHashState);

  ByteBuffer signature;
  EXPECT_EQ(ctx->signHash(*hash, kAtSignature, 0, &signature), win32::kNteNoKey);
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(ctx->genKey(kAtSignature, kBits1024, &key), 0u);
  EXPECT_EQ(ctx->signHash(*hash, kAtSignature, 0x2, &signature), win32::kNteBadFlags);
  EXPECT_EQ(ctx->signHash(*hash, 3, 0, &signature), win32::kNteBadAlgid);
  EXPECT_EQ(ctx->signHash(*hash, kAtKeyExchange, 0, &signature), win32::kNteNoKey);

  // With CRYPT_NOHASHOID the bare digest is what the signature recovers to.
  ASSERT_EQ(ctx->signHash(*hash, kAtSignature, kCryptNohashoid, &signature), 0u);
  const Bytes raw = Reversed(signature);
  OsslPtr<EVP_PKEY_CTX> recover(EVP_PKEY_CTX_new(key->rsaKey(), nullptr));
  Bytes recovered(128);
  size_t recoveredLength = recovered.size();
  ASSERT_EQ(EVP_PKEY_verify_recover_init(recover.get()), 1);
  ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(recover.get(), RSA_PKCS1_PADDING), 1);
  ASSERT_EQ(EVP_PKEY_verify_recover(recover.get(), recovered.data(), &recoveredLength, raw.data(),
                                    raw.size()),
            1);
  recovered.resize(recoveredLength);
  EXPECT_EQ(recovered, Digest(EVP_sha1(), "abc"));
}

TEST_F(ProviderTest, VerificationContextKeepsKeysInMemory) {
  std::unique_ptr<ProviderContext> ctx;
  ASSERT_EQ(acquire("", kCryptVerifycontext, &ctx), 0u);
  EXPECT_TRUE(ctx->verifyContext());
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->getUserKey(kAtSignature, &key), win32::kNteNoKey);
  ASSERT_EQ(ctx->genKey(kAtSignature, kBits1024, &key), 0u);
  const Bytes digest = Digest(EVP_md5(), "ephemeral");
  ByteBuffer signature;
  ASSERT_EQ(SignDigest(*ctx, kCalgMd5, digest, kAtSignature, &signature), 0u);
  expectOpensslVerifies(*key, "md5", digest, signature);

  std::unique_ptr<ProviderContext> other;
  ASSERT_EQ(acquire("", kCryptVerifycontext, &other), 0u);
  EXPECT_EQ(other->getUserKey(kAtSignature, &key), win32::kNteNoKey);
  // Nothing reached the database.
  std::unique_ptr<ProviderContext> probe;
  EXPECT_EQ(acquire("", 0, &probe), win32::kNteBadKeyset);
}

TEST_F(ProviderTest, CertificatePrivateKeyThroughProviderInfo) {
  auto ctx = newContainer("{2F1A-cert}", kMsEnhRsaAesProv, kProvRsaAes);
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(ctx->genKey(kAtSignature, kBits1024 | kCryptUserProtected, &key), 0u);
  const KeyProviderInfo info = ctx->keyProviderInfo(kAtSignature);
  EXPECT_EQ(info.containerName, u"{2F1A-cert}");
  EXPECT_EQ(info.providerName, u"Microsoft Enhanced RSA and AES Cryptographic Provider");
  EXPECT_EQ(info.providerType, kProvRsaAes);
  EXPECT_EQ(info.keySpec, kAtSignature);

  std::unique_ptr<ProviderContext> acquired;
  uint32_t keySpec = 0;
  ASSERT_EQ(AcquireCertificatePrivateKey(info, kCryptAcquireCacheFlag, &acquired, &keySpec, db_),
            0u);
  EXPECT_EQ(keySpec, kAtSignature);
  EXPECT_FALSE(acquired->silent());
  const Bytes digest = Digest(EVP_sha1(), "certificate");
  ByteBuffer signature;
  ASSERT_EQ(SignDigest(*acquired, kCalgSha1, digest, keySpec, &signature), 0u);
  expectOpensslVerifies(*key, "sha1", digest, signature);

  struct Case {
    const char* what;
    std::function<void(KeyProviderInfo&)> change;
    uint32_t flags;
    uint32_t error;
  };
  const std::vector<Case> cases = {
      {"container gone", [](KeyProviderInfo& i) { i.containerName = u"{gone}"; }, 0,
       win32::kNteBadKeyset},
      {"no key of that kind", [](KeyProviderInfo& i) { i.keySpec = kAtKeyExchange; }, 0,
       win32::kNteNoKey},
      {"key keySpec 7", [](KeyProviderInfo& i) { i.keySpec = 7; }, 0, win32::kNteBadKey},
      {"unknown provider", [](KeyProviderInfo& i) { i.providerName = u"Token CSP"; }, 0,
       win32::kNteKeysetNotDef},
      {"type mismatch", [](KeyProviderInfo& i) { i.providerType = kProvRsaFull; }, 0,
       win32::kNteProvTypeNoMatch},
      {"machine key set", [](KeyProviderInfo& i) { i.flags = kCryptMachineKeyset; }, 0,
       win32::kNteBadFlags},
      {"compare-key flag", [](KeyProviderInfo&) {}, 0x4, win32::kNteBadFlags},
      {"another provider of the family",
       [](KeyProviderInfo& i) {
         i.providerName = u"Microsoft Enhanced Cryptographic Provider v1.0";
         i.providerType = kProvRsaFull;
       },
       0, 0},
  };
  for (const Case& c : cases) {
    KeyProviderInfo changed = info;
    c.change(changed);
    EXPECT_EQ(AcquireCertificatePrivateKey(changed, c.flags, &acquired, &keySpec, db_), c.error)
        << c.what;
    EXPECT_EQ(acquired != nullptr, c.error == 0) << c.what;
  }

  // Silent acquisition: the user-protected key is there but cannot sign.
  ASSERT_EQ(AcquireCertificatePrivateKey(info, kCryptAcquireSilentFlag, &acquired, &keySpec, db_),
            0u);
  EXPECT_TRUE(acquired->silent());
  EXPECT_EQ(SignDigest(*acquired, kCalgSha1, digest, keySpec, &signature),
            win32::kNteSilentContext);
}

TEST_F(ProviderTest, DatabaseFailuresCarryTheirNumbers) {
  auto ctx = newContainer("db");
  // Another connection holds the write lock longer than this one waits.
  sqlite3_busy_timeout(db_->handle(), 50);
  uint32_t error = 0;
  auto holder = PlatformDatabase::Open(db_->path(), &error);
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(sqlite3_exec(holder->handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::unique_ptr<ProviderContext> other;
  EXPECT_EQ(acquire("busy", kCryptNewkeyset, &other), win32::kErrorBusy);
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->genKey(kAtSignature, 512u << 16, &key), win32::kErrorBusy);
  ASSERT_EQ(sqlite3_exec(holder->handle(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);

  // A database that may not be written.
  ASSERT_EQ(sqlite3_exec(db_->handle(), "PRAGMA query_only = 1", nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(acquire("read-only", kCryptNewkeyset, &other), win32::kNtePerm);
  EXPECT_EQ(ctx->genKey(kAtSignature, 512u << 16, &key), win32::kNtePerm);
  EXPECT_EQ(acquire("db", kCryptDeletekeyset, &other), win32::kNtePerm);
  EXPECT_EQ(acquire("db", 0, &other), 0u);
}

// With no database given, containers live in the user's own database
// under the data directory; one that cannot be made fails with NTE_FAIL.
TEST_F(ProviderTest, DefaultDatabaseFollowsTheDataDirectory) {
  const char* saved = getenv("QUORVANT_HOME");
  const std::string previous = saved ? saved : "";
  setenv("QUORVANT_HOME", (dir_ / "home").c_str(), 1);
  std::unique_ptr<ProviderContext> ctx;
  EXPECT_EQ(ProviderContext::Acquire("mine", kMsEnhancedProv, 1, kCryptNewkeyset, &ctx), 0u);
  EXPECT_TRUE(fs::exists(dir_ / "home" / "platform.db"));
  EXPECT_EQ(ProviderContext::Acquire("mine", kMsEnhancedProv, 1, 0, &ctx), 0u);

  WriteFile(dir_ / "file", Bytes{1});
  setenv("QUORVANT_HOME", (dir_ / "file" / "home").c_str(), 1);
  EXPECT_EQ(ProviderContext::Acquire("mine", kMsEnhancedProv, 1, 0, &ctx), win32::kNteFail);
  if (saved) {
    setenv("QUORVANT_HOME", previous.c_str(), 1);
  } else {
    unsetenv("QUORVANT_HOME");
  }
}

// Processes that create the same container at the same moment: exactly one
// succeeds, every other one gets NTE_EXISTS.
TEST_F(ProviderTest, ConcurrentCreationHasOneWinner) {
  constexpr int kChildren = 6;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  const std::string path = db_->path();
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(StartChild([&] {
      close(gate[1]);
      char go;
      if (read(gate[0], &go, 1) != 0) return 9;  // wait until the gate closes
      uint32_t error = 0;
      auto db = PlatformDatabase::Open(path, &error);
      if (!db) return 8;
      std::unique_ptr<ProviderContext> ctx;
      const uint32_t rc =
          ProviderContext::Acquire("shared", kMsEnhancedProv, 1, kCryptNewkeyset, &ctx, db);
      if (rc == 0) {
        std::unique_ptr<CryptKey> key;
        return ctx->genKey(kAtKeyExchange, 512u << 16, &key) == 0 ? 0 : 3;
      }
      return rc == win32::kNteExists ? 1 : 2;
    }));
  }
  close(gate[0]);
  close(gate[1]);  // all children start at once
  int winners = 0, losers = 0;
  for (const pid_t pid : children) {
    const int code = Wait(pid);
    winners += code == 0;
    losers += code == 1;
  }
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(losers, kChildren - 1);
  std::unique_ptr<ProviderContext> ctx;
  ASSERT_EQ(acquire("shared", 0, &ctx), 0u);
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx->getUserKey(kAtKeyExchange, &key), 0u);
}

}  // namespace
}  // namespace quorvant
