// DesCipher against NIST known answers and, differentially, OpenSSL.
//
// With the all-zero IV the first CBC block is the plain (ECB) encryption of
// the first plaintext block, so published ECB vectors apply directly; later
// ECB blocks are reached by XOR-ing the previous ciphertext into the input.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <random>
#include <vector>

#include "digest/des_cipher.h"
#include "digest_test_util.h"

namespace quorvant {
namespace {

using testing::fromHex;
using testing::opensslCbcEncrypt;
using testing::randomBytes;
using testing::toHex;

std::vector<uint8_t> encryptWith(int32_t alg, const std::vector<uint8_t>& key,
                                 const std::vector<uint8_t>& data) {
  DesCipher cipher;
  cipher.setAlgorithm(alg);
  cipher.setKey(key.data(), static_cast<int32_t>(key.size()));
  if (!cipher.encrypt(data.data(), static_cast<int32_t>(data.size()))) return {};
  const ByteBuffer& out = cipher.output();
  return std::vector<uint8_t>(out.data(), out.data() + out.size());
}

// Encrypts the blocks of plaintext one by one in ECB fashion through the CBC
// engine and returns the ciphertext blocks (padding block dropped).
std::vector<uint8_t> ecbThroughCbc(int32_t alg, const std::vector<uint8_t>& key,
                                   const std::vector<uint8_t>& plaintext) {
  std::vector<uint8_t> input;
  std::vector<uint8_t> previous(8, 0);
  for (size_t i = 0; i < plaintext.size(); i += 8) {
    for (size_t j = 0; j < 8; ++j) input.push_back(plaintext[i + j] ^ previous[j]);
    const std::vector<uint8_t> out = encryptWith(alg, key, input);
    if (out.size() != input.size() + 8) return {};
    previous.assign(out.end() - 16, out.end() - 8);
  }
  const std::vector<uint8_t> out = encryptWith(alg, key, input);
  return std::vector<uint8_t>(out.begin(), out.end() - 8);
}

struct Vector {
  const char* source;
  int32_t alg;
  const char* key;
  const char* plaintext;
  const char* ciphertext;
};

const Vector kVectors[] = {
    // FIPS 81, Appendix B, ECB example.
    {"FIPS 81 ECB", CALG_DES, "0123456789abcdef",
     "4e6f772069732074 68652074696d6520 666f7220616c6c20",
     "3fa40e8a984d4815 6a271787ab8883f9 893d51ec4b563b53"},
    // NIST SP 800-20, Table A.1 (variable plaintext known answer test, keys
    // all 01 so K1 = K2 = K3), first and last entries.
    {"SP 800-20 A.1", CALG_DES, "0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"SP 800-20 A.1", CALG_DES, "0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"SP 800-20 A.1", CALG_DES, "0101010101010101", "2000000000000000", "2e8653104f3834ea"},
    {"SP 800-20 A.1", CALG_DES, "0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
    {"SP 800-20 A.1 as TDEA", CALG_3DES, "0101010101010101 0101010101010101 0101010101010101",
     "8000000000000000", "95f8a5e5dd31d900"},
    // NIST SP 800-20, Table A.2 (variable key known answer test).
    {"SP 800-20 A.2", CALG_DES, "8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"SP 800-20 A.2", CALG_DES, "4001010101010101", "0000000000000000", "0eec1487dd8c26d5"},
    // NIST SP 800-67 Rev. 1, Appendix B: three-key TDEA example (the
    // plaintext "The qufck brown fox jump", typo included).
    {"SP 800-67 B", CALG_3DES, "0123456789abcdef 23456789abcdef01 456789abcdef0123",
     "5468652071756663 6b2062726f776e20 666f78206a756d70",
     "a826fd8ce53b855f cce21c8112256fe6 68d5c05dd9b6b900"},
};

TEST(DesCipherKnownAnswers, NistVectors) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(std::string(v.source) + " key " + v.key);
    EXPECT_EQ(toHex(ecbThroughCbc(v.alg, fromHex(v.key), fromHex(v.plaintext))),
              toHex(fromHex(v.ciphertext)));
  }
}

TEST(DesCipherKnownAnswers, EightBytesGiveTwoBlocksTheSecondBeingPadding) {
  // FIPS 81 key and first block; the second block is E(08..08 xor C1).
  const auto key = fromHex("0123456789abcdef");
  const auto out = encryptWith(CALG_DES, key, fromHex("4e6f772069732074"));
  ASSERT_EQ(out.size(), 16u);
  EXPECT_EQ(toHex(std::vector<uint8_t>(out.begin(), out.begin() + 8)), "3fa40e8a984d4815");
  std::vector<uint8_t> padXorC1(8);
  for (int i = 0; i < 8; ++i) padXorC1[i] = 0x08 ^ out[i];
  const auto second = encryptWith(CALG_DES, key, padXorC1);
  EXPECT_EQ(toHex(std::vector<uint8_t>(out.begin() + 8, out.end())),
            toHex(std::vector<uint8_t>(second.begin(), second.begin() + 8)));
}

TEST(DesCipherKeying, TwoKeyAndDegenerateThreeKeyForms) {
  std::mt19937_64 rng(10);
  for (int i = 0; i < 50; ++i) {
    const auto k = randomBytes(rng, 24);
    const auto data = randomBytes(rng, rng() % 100 + 1);
    std::vector<uint8_t> k1k2k1(k.begin(), k.begin() + 16);
    k1k2k1.insert(k1k2k1.end(), k.begin(), k.begin() + 8);
    EXPECT_EQ(encryptWith(CALG_3DES_112, std::vector<uint8_t>(k.begin(), k.begin() + 16), data),
              encryptWith(CALG_3DES, k1k2k1, data));
    std::vector<uint8_t> k1k1k1(k.begin(), k.begin() + 8);
    k1k1k1.insert(k1k1k1.end(), k.begin(), k.begin() + 8);
    k1k1k1.insert(k1k1k1.end(), k.begin(), k.begin() + 8);
    EXPECT_EQ(encryptWith(CALG_3DES, k1k1k1, data),
              encryptWith(CALG_DES, std::vector<uint8_t>(k.begin(), k.begin() + 8), data));
    // Parity bits (the low bit of each key byte) do not matter.
    std::vector<uint8_t> flipped = k;
    for (auto& b : flipped) b ^= 1;
    EXPECT_EQ(encryptWith(CALG_3DES, k, data), encryptWith(CALG_3DES, flipped, data));
  }
}

TEST(DesCipherAlgorithm, UnknownIdentifiersMeanSingleDes) {
  DesCipher cipher;
  EXPECT_EQ(cipher.algorithm(), CALG_DES);
  for (int32_t id : {CALG_3DES, CALG_3DES_112}) {
    cipher.setAlgorithm(id);
    EXPECT_EQ(cipher.algorithm(), id);
  }
  for (int32_t id : {0, -1, 0x6610, 0x660e, CALG_DES}) {
    cipher.setAlgorithm(CALG_3DES);
    cipher.setAlgorithm(id);
    EXPECT_EQ(cipher.algorithm(), CALG_DES) << id;
  }
}

TEST(DesCipherFailures, EmptyInputMissingDataOrShortKey) {
  const uint8_t key[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                           13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  const uint8_t data[4] = {1, 2, 3, 4};
  DesCipher cipher;
  cipher.setKey(key, 8);
  ASSERT_TRUE(cipher.encrypt(data, 4));
  EXPECT_FALSE(cipher.encrypt(data, 0));
  EXPECT_TRUE(cipher.output().empty());
  ASSERT_TRUE(cipher.encrypt(data, 4));
  EXPECT_FALSE(cipher.encrypt(nullptr, 4));
  EXPECT_TRUE(cipher.output().empty());
  EXPECT_FALSE(cipher.encrypt(data, -8));

  cipher.setAlgorithm(CALG_3DES);  // needs 24 bytes, holds 8
  EXPECT_FALSE(cipher.encrypt(data, 4));
  cipher.setKey(key, 24);
  EXPECT_TRUE(cipher.encrypt(data, 4));
  cipher.setKey(nullptr, 24);  // drops the key
  EXPECT_FALSE(cipher.encrypt(data, 4));
  EXPECT_TRUE(cipher.output().empty());
}

// OpenSSL 3 keeps single DES in the legacy provider; without it, single DES
// is checked as three-key TDEA with K1 = K2 = K3 instead. Loading a provider
// by hand turns off the implicit default one, and the other suites in this
// binary need that, so both are loaded for the whole run.
class OpensslProviders : public ::testing::Environment {
 public:
  void SetUp() override {
    legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
    default_ = OSSL_PROVIDER_load(nullptr, "default");
  }
  void TearDown() override {
    if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
    if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
  }

 private:
  OSSL_PROVIDER* legacy_ = nullptr;
  OSSL_PROVIDER* default_ = nullptr;
};

// gtest owns and deletes registered environments.
[[maybe_unused]] ::testing::Environment* const kProviders =
    ::testing::AddGlobalTestEnvironment(new OpensslProviders);

using DesCipherVsOpenssl = ::testing::Test;

TEST_F(DesCipherVsOpenssl, RandomKeysAndLengths) {
  std::mt19937_64 rng(11);
  EVP_CIPHER* desCbc = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
  const std::vector<uint8_t> pool = randomBytes(rng, 3000 + 16);
  for (int i = 0; i < 600; ++i) {
    const auto key = randomBytes(rng, 24);
    const size_t n = 1 + rng() % 3000;
    const size_t offset = rng() % 16;
    const std::vector<uint8_t> data(pool.begin() + offset, pool.begin() + offset + n);
    SCOPED_TRACE(toHex(key) + " length " + std::to_string(n));

    EXPECT_EQ(encryptWith(CALG_3DES, key, data),
              opensslCbcEncrypt(EVP_des_ede3_cbc(), key.data(), data.data(), data.size()));
    EXPECT_EQ(encryptWith(CALG_3DES_112, std::vector<uint8_t>(key.begin(), key.begin() + 16),
                          data),
              opensslCbcEncrypt(EVP_des_ede_cbc(), key.data(), data.data(), data.size()));
    std::vector<uint8_t> single(key.begin(), key.begin() + 8);
    std::vector<uint8_t> expected;
    if (desCbc != nullptr) {
      expected = opensslCbcEncrypt(desCbc, key.data(), data.data(), data.size());
    } else {
      std::vector<uint8_t> k3 = single;
      k3.insert(k3.end(), single.begin(), single.end());
      k3.insert(k3.end(), single.begin(), single.end());
      expected = opensslCbcEncrypt(EVP_des_ede3_cbc(), k3.data(), data.data(), data.size());
    }
    EXPECT_EQ(encryptWith(CALG_DES, single, data), expected);
    ASSERT_EQ(expected.size(), (data.size() / 8 + 1) * 8);
  }
  // One large input, started at an odd address.
  const auto key = randomBytes(rng, 24);
  const auto big = randomBytes(rng, (1 << 18) + 5);
  DesCipher cipher;
  cipher.setAlgorithm(CALG_3DES);
  cipher.setKey(key.data(), 24);
  ASSERT_TRUE(cipher.encrypt(big.data() + 1, static_cast<int32_t>(big.size() - 1)));
  EXPECT_EQ(toHex(cipher.output()),
            toHex(opensslCbcEncrypt(EVP_des_ede3_cbc(), key.data(), big.data() + 1,
                                    big.size() - 1)));
  EVP_CIPHER_free(desCbc);
}

}  // namespace
}  // namespace quorvant
