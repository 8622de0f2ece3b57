// DES and Triple-DES session keys imported from PLAINTEXTKEYBLOBs: FIPS 81
// known answers, and OpenSSL's own CBC with PKCS #5 padding as the reference
// for every length, chunked the way callers feed the provider block by
// block.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

Bytes ToBytes(const ByteBuffer& b) { return Bytes(b.data(), b.data() + b.size()); }

Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

const Bytes kKey24 = FromHex("0123456789abcdeffedcba9876543210891bc1d3e5f70246");

// Triple-DES-CBC with PKCS #5 padding and a zero IV by OpenSSL in one call;
// DES and two-key Triple-DES as three-key Triple-DES with repeated keys.
Bytes ReferenceEncrypt(uint32_t algId, const Bytes& key, const Bytes& plain) {
  Bytes k3(key);
  if (algId == static_cast<uint32_t>(CALG_DES)) k3.insert(k3.end(), key.begin(), key.end());
  if (algId != static_cast<uint32_t>(CALG_3DES)) k3.insert(k3.end(), key.begin(), key.begin() + 8);
  const uint8_t iv[8] = {};
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  Bytes out(plain.size() + 8);
  int n1 = 0, n2 = 0;
  EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, k3.data(), iv), 1);
  EXPECT_EQ(
      EVP_EncryptUpdate(ctx.get(), out.data(), &n1, plain.data(), static_cast<int>(plain.size())),
      1);
  EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), out.data() + n1, &n2), 1);
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

class SymmetricKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        ProviderContext::Acquire("", kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext, &ctx_),
        0u);
  }

  std::unique_ptr<CryptKey> import(uint32_t algId, const Bytes& key, uint32_t flags = 0) {
    ByteBuffer blob;
    EXPECT_EQ(EncodePlaintextKeyBlob(algId, key, &blob), 0u);
    std::unique_ptr<CryptKey> out;
    EXPECT_EQ(ctx_->importKey(blob.bytes(), flags, &out), 0u);
    return out;
  }

  // Whole blocks one call each, not final; the rest (0 to 7 bytes) final.
  static Bytes EncryptByBlocks(CryptKey& key, const Bytes& plain) {
    ByteBuffer out;
    size_t at = 0;
    for (; at + 8 <= plain.size(); at += 8) {
      EXPECT_EQ(key.encrypt(std::span(plain).subspan(at, 8), false, &out), 0u);
    }
    EXPECT_EQ(key.encrypt(std::span(plain).subspan(at), true, &out), 0u);
    return ToBytes(out);
  }

  // Every block followed by more data not final, the last block final.
  static uint32_t DecryptByBlocks(CryptKey& key, const Bytes& cipher, Bytes* plain) {
    ByteBuffer out;
    uint32_t error = 0;
    for (size_t at = 0; at < cipher.size() && error == 0; at += 8) {
      const bool last = at + 8 >= cipher.size();
      error = key.decrypt(std::span(cipher).subspan(at, std::min<size_t>(8, cipher.size() - at)),
                          last, &out);
    }
    *plain = ToBytes(out);
    return error;
  }

  std::unique_ptr<ProviderContext> ctx_;
};

// FIPS 81, appendix B (ECB) and C (CBC): "Now is the time for all ".
TEST_F(SymmetricKeyTest, Fips81Vectors) {
  const Bytes plain = FromHex("4e6f77206973207468652074696d6520666f7220616c6c20");
  struct Case {
    uint32_t mode;
    const char* cipher;
  };
  for (const Case c : {Case{kCryptModeCbc, "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
                       Case{kCryptModeEcb, "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"}}) {
    auto key = import(static_cast<uint32_t>(CALG_DES), FromHex("0123456789abcdef"));
    ASSERT_EQ(key->setParam(kKpIv, FromHex("1234567890abcdef")), 0u);
    ASSERT_EQ(key->setParam(kKpMode, Le32(c.mode)), 0u);
    ByteBuffer out;
    ASSERT_EQ(key->encrypt(std::span(plain).first(8), false, &out), 0u);
    ASSERT_EQ(key->encrypt(std::span(plain).subspan(8), false, &out), 0u);
    EXPECT_EQ(ToBytes(out), FromHex(c.cipher)) << c.mode;
    // Decrypting starts over at the IV, since the key changes direction.
    ByteBuffer back;
    ASSERT_EQ(key->decrypt(out.bytes(), false, &back), 0u);
    EXPECT_EQ(ToBytes(back), plain);
  }
}

// Single DES must not depend on OpenSSL's legacy module: run the known
// answers again in a process that cannot load it.
TEST_F(SymmetricKeyTest, Fips81VectorsWithoutLegacyModule) {
  if (getenv("QV_NO_LEGACY_CHILD") != nullptr) GTEST_SKIP() << "already the child";
  const std::string command = "QV_NO_LEGACY_CHILD=1 OPENSSL_MODULES=/nonexistent /proc/" +
                              std::to_string(getpid()) +
                              "/exe --gtest_filter=SymmetricKeyTest.Fips81Vectors >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SymmetricKeyTest, EveryLengthMatchesOpenssl) {
  struct Alg {
    uint32_t id;
    size_t keyLength;
  };
  for (const Alg alg :
       {Alg{static_cast<uint32_t>(CALG_DES), 8}, Alg{static_cast<uint32_t>(CALG_3DES_112), 16},
        Alg{static_cast<uint32_t>(CALG_3DES), 24}}) {
    const Bytes keyBytes(kKey24.begin(), kKey24.begin() + alg.keyLength);
    auto key = import(alg.id, keyBytes);
    for (size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 64}) {
      SCOPED_TRACE(std::to_string(alg.id) + " " + std::to_string(length));
      Bytes plain(length);
      for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 37 + 1);
      const Bytes expected = ReferenceEncrypt(alg.id, keyBytes, plain);
      EXPECT_EQ(expected.size(), length / 8 * 8 + 8);
      EXPECT_EQ(EncryptByBlocks(*key, plain), expected);
      ByteBuffer oneCall;
      ASSERT_EQ(key->encrypt(plain, true, &oneCall), 0u);
      EXPECT_EQ(ToBytes(oneCall), expected);

      Bytes back;
      EXPECT_EQ(DecryptByBlocks(*key, expected, &back), 0u);
      EXPECT_EQ(back, plain);
      ByteBuffer backOneCall;
      ASSERT_EQ(key->decrypt(expected, true, &backOneCall), 0u);
      EXPECT_EQ(ToBytes(backOneCall), plain);
    }
  }
  // Two-key Triple-DES is three-key Triple-DES with K3 = K1.
  Bytes k1k2k1(kKey24.begin(), kKey24.begin() + 16);
  k1k2k1.insert(k1k2k1.end(), kKey24.begin(), kKey24.begin() + 8);
  const Bytes plain = {'a', 'b', 'c'};
  EXPECT_EQ(EncryptByBlocks(*import(static_cast<uint32_t>(CALG_3DES_112),
                                    Bytes(kKey24.begin(), kKey24.begin() + 16)),
                            plain),
            EncryptByBlocks(*import(static_cast<uint32_t>(CALG_3DES), k1k2k1), plain));
}

TEST_F(SymmetricKeyTest, ChainingAcrossCallsAndRestartAfterFinal) {
  auto key = import(static_cast<uint32_t>(CALG_3DES), kKey24);
  Bytes plain(40, 0x5A);
  const Bytes expected = ReferenceEncrypt(static_cast<uint32_t>(CALG_3DES), kKey24, plain);
  ByteBuffer out;
  ASSERT_EQ(key->encrypt(std::span(plain).first(16), false, &out), 0u);
  ASSERT_EQ(key->encrypt(std::span(plain).subspan(16, 8), false, &out), 0u);
  ASSERT_EQ(key->encrypt(std::span(plain).subspan(24), true, &out), 0u);
  EXPECT_EQ(ToBytes(out), expected);
  // The same message again gives the same bytes: Final put the IV back.
  EXPECT_EQ(EncryptByBlocks(*key, plain), expected);
}

TEST_F(SymmetricKeyTest, LengthAndPaddingErrors) {
  auto key = import(static_cast<uint32_t>(CALG_DES), Bytes(kKey24.begin(), kKey24.begin() + 8));
  ByteBuffer out;
  EXPECT_EQ(key->encrypt(Bytes(5), false, &out), win32::kNteBadData);
  EXPECT_EQ(key->decrypt(Bytes(5), false, &out), win32::kNteBadData);
  EXPECT_EQ(key->decrypt(Bytes(12), true, &out), win32::kNteBadData);
  EXPECT_EQ(key->decrypt(Bytes(), true, &out), win32::kNteBadData);
  EXPECT_TRUE(out.empty());

  // Ciphertexts whose last plaintext block ends as given: made with
  // non-final (unpadded) encryption, then decrypted with Final.
  struct Case {
    const char* lastBlock;
    uint32_t error;
    size_t kept;
  };
  const Case cases[] = {
      {"4142434445030303", 0, 5},
      {"0808080808080808", 0, 0},
      {"4142434445464701", 0, 7},
      {"4142434445464700", win32::kNteBadData, 0},
      {"4142434445464709", win32::kNteBadData, 0},
      {"4142434445020303", win32::kNteBadData, 0},
      {"0708080808080808", win32::kNteBadData, 0},
  };
  for (const Case& c : cases) {
    Bytes plain = FromHex("0011223344556677");
    const Bytes last = FromHex(c.lastBlock);
    plain.insert(plain.end(), last.begin(), last.end());
    ByteBuffer cipher;
    ASSERT_EQ(key->encrypt(plain, false, &cipher), 0u);
    ByteBuffer mid;
    ASSERT_EQ(key->encrypt(Bytes(), true, &mid), 0u);  // ends the message
    ByteBuffer back;
    ASSERT_EQ(back.append("prefix", 6), true);
    EXPECT_EQ(key->decrypt(cipher.bytes(), true, &back), c.error) << c.lastBlock;
    // Nothing of a message with bad padding is appended.
    const size_t expectedSize = 6 + (c.error == 0 ? 8 + c.kept : 0);
    EXPECT_EQ(static_cast<size_t>(back.size()), expectedSize) << c.lastBlock;
  }
  // The key is still good after a padding failure.
  const Bytes plain = {1, 2, 3};
  Bytes back;
  EXPECT_EQ(DecryptByBlocks(*key, EncryptByBlocks(*key, plain), &back), 0u);
  EXPECT_EQ(back, plain);
}

TEST_F(SymmetricKeyTest, KeyParameterErrors) {
  auto key = import(static_cast<uint32_t>(CALG_3DES), kKey24);
  EXPECT_EQ(key->setParam(kKpIv, Bytes(7)), win32::kNteBadData);
  EXPECT_EQ(key->setParam(kKpIv, Bytes(9)), win32::kNteBadData);
  for (const uint32_t mode : {0u, kCryptModeOfb, kCryptModeCfb, 5u}) {
    EXPECT_EQ(key->setParam(kKpMode, Le32(mode)), win32::kNteBadData) << mode;
  }
  EXPECT_EQ(key->setParam(kKpMode, Bytes{1, 0}), win32::kNteBadData);
  EXPECT_EQ(key->setParam(7 /* KP_ALGID */, Le32(0)), win32::kNteBadType);

  std::unique_ptr<CryptKey> rsa;
  ASSERT_EQ(ctx_->genKey(kAtKeyExchange, 512u << 16, &rsa), 0u);
  EXPECT_EQ(rsa->setParam(kKpIv, Bytes(8)), win32::kNteBadType);
  ByteBuffer out;
  EXPECT_EQ(rsa->encrypt(Bytes(8), true, &out), win32::kNteBadKey);
  EXPECT_EQ(rsa->decrypt(Bytes(8), true, &out), win32::kNteBadKey);
}

TEST_F(SymmetricKeyTest, ImportAndExportRules) {
  ByteBuffer blob;
  ASSERT_EQ(EncodePlaintextKeyBlob(static_cast<uint32_t>(CALG_3DES), kKey24, &blob), 0u);
  std::unique_ptr<CryptKey> key;
  EXPECT_EQ(ctx_->importKey(blob.bytes(), kCryptUserProtected, &key), win32::kNteBadFlags);

  ASSERT_EQ(ctx_->importKey(blob.bytes(), kCryptExportable, &key), 0u);
  EXPECT_EQ(key->algId(), static_cast<uint32_t>(CALG_3DES));
  EXPECT_EQ(key->keySpec(), 0u);
  EXPECT_EQ(key->bitLength(), 192u);
  ByteBuffer exported;
  ASSERT_EQ(key->exportKey(kPlaintextkeyblob, 0, &exported), 0u);
  EXPECT_EQ(ToBytes(exported), ToBytes(blob));
  EXPECT_EQ(key->exportKey(kPublickeyblob, 0, &exported), win32::kNteBadKey);
  EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0, &exported), win32::kNteBadKey);

  ASSERT_EQ(ctx_->importKey(blob.bytes(), 0, &key), 0u);
  EXPECT_EQ(key->exportKey(kPlaintextkeyblob, 0, &exported), win32::kNteBadKeyState);

  // The Base provider has no DES.
  std::unique_ptr<ProviderContext> base;
  ASSERT_EQ(ProviderContext::Acquire("", kMsDefProv, kProvRsaFull, kCryptVerifycontext, &base), 0u);
  EXPECT_EQ(base->importKey(blob.bytes(), 0, &key), win32::kNteBadAlgid);
}

}  // namespace
}  // namespace quorvant
