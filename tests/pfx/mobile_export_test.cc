#include "pfx/mobile_export.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "certs/test_certificates.h"
#include "encoding/base64.h"
#include "platform/keys/key_blob.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

// The record through OpenSSL's Triple DES, keyed as mobile readers key it.
std::vector<uint8_t> Decrypt(const std::string& text, const std::string& password) {
  ByteBuffer cipherText;
  EXPECT_TRUE(Base64Decode(text.c_str(), cipherText));
  uint8_t key[24];
  SHA1(reinterpret_cast<const uint8_t*>(password.data()), password.size(), key);
  std::memcpy(key + 20, "MORL", 4);
  const uint8_t iv[8] = {};
  std::vector<uint8_t> plain(static_cast<size_t>(cipherText.size()) + 8);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  int tail = 0;
  EXPECT_EQ(EVP_DecryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key, iv), 1);
  EXPECT_EQ(EVP_DecryptUpdate(ctx, plain.data(), &n, cipherText.data(), cipherText.size()), 1);
  EXPECT_EQ(EVP_DecryptFinal_ex(ctx, plain.data() + n, &tail), 1);
  EVP_CIPHER_CTX_free(ctx);
  plain.resize(static_cast<size_t>(n + tail));
  return plain;
}

TEST(MobileExportTest, RecordLayoutAndRefusals) {
  testing::TestCertificateOptions options;
  options.commonName = "Mobile Holder";
  options.issuerCommonName = "Mobile CA";
  options.serial = 0x0102030405ull;
  const std::vector<uint8_t> der = testing::MakeTestCertificate(options);
  const CertificateInfo certificate{std::span<const uint8_t>(der)};
  for (int bits : {1024, 2048}) {
    SCOPED_TRACE(bits);
    OsslPtr<EVP_PKEY> key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    ByteBuffer blob;
    ASSERT_EQ(EncodeRsaPrivateKeyBlob(key.get(), kCalgRsaKeyx, &blob), 0u);
    Result<std::string> text = BuildMobileText(certificate, blob.bytes(), "pw");
    ASSERT_TRUE(text.ok()) << text.outcome().code();
    const std::vector<uint8_t> record = Decrypt(*text, "pw");
    // 72 fixed bytes, 9n/16 of key numbers, then CN, serial and certificate.
    EXPECT_EQ(record.size(), 72u + 9u * bits / 16 + 13 + 5 + der.size());
    ASSERT_GE(record.size(), 12u);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 4), "MORL");
    EXPECT_EQ(record[6] << 8 | record[7], bits);
    EXPECT_EQ(std::vector<uint8_t>(record.end() - der.size(), record.end()), der);
    EXPECT_EQ(BuildMobileText(certificate, blob.bytes(), "pw")->size(), text->size());
  }
  OsslPtr<EVP_PKEY> key(EVP_RSA_gen(1024));
  ByteBuffer blob;
  ASSERT_EQ(EncodeRsaPrivateKeyBlob(key.get(), kCalgRsaKeyx, &blob), 0u);
  ByteBuffer publicBlob;
  ASSERT_EQ(EncodeRsaPublicKeyBlob(key.get(), kCalgRsaKeyx, &publicBlob), 0u);
  struct Case {
    const char* name;
    std::span<const uint8_t> blob;
    const char* password;
    int32_t code;
  } cases[] = {
      {"empty password", blob.bytes(), "", 5005},
      {"public key only", publicBlob.bytes(), "pw", 5063},
      {"truncated blob", blob.bytes().first(40), "pw", 5063},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildMobileText(certificate, c.blob, c.password).outcome().code(), c.code) << c.name;
  }
  const CertificateInfo none{std::span<const uint8_t>()};
  EXPECT_EQ(BuildMobileText(none, blob.bytes(), "pw").outcome().code(), 5063);
}

}  // namespace
}  // namespace quorvant
