// Key blob layouts against independent writers and readers: OpenSSL's own
// MSBLOB code (i2b_/b2i_), and blobs laid out here by hand from OpenSSL's
// numbers at the offsets the CryptoAPI layout fixes. Every rejection of the
// parser is checked.
#include "platform/keys/key_blob.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

using Bytes = std::vector<uint8_t>;

OsslPtr<BIGNUM> Number(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1) << name;
  return OsslPtr<BIGNUM>(bn);
}

void PutLe(Bytes* out, const BIGNUM* bn, size_t width) {
  const size_t at = out->size();
  out->resize(at + width);
  ASSERT_EQ(BN_bn2lebinpad(bn, out->data() + at, static_cast<int>(width)), static_cast<int>(width));
}

void PutLe32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// BLOBHEADER, RSAPUBKEY, then the numbers in blob order.
Bytes HandMadeBlob(const EVP_PKEY* key, uint8_t type, uint32_t algId) {
  const uint32_t bits = static_cast<uint32_t>(EVP_PKEY_get_bits(key));
  Bytes blob = {type, 2, 0, 0};
  PutLe32(&blob, algId);
  blob.insert(blob.end(), {'R', 'S', 'A', static_cast<uint8_t>(type == 7 ? '2' : '1')});
  PutLe32(&blob, bits);
  PutLe(&blob, Number(key, OSSL_PKEY_PARAM_RSA_E).get(), 4);
  PutLe(&blob, Number(key, OSSL_PKEY_PARAM_RSA_N).get(), bits / 8);
  if (type == 7) {
    for (const char* name :
         {OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
          OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
      PutLe(&blob, Number(key, name).get(), bits / 16);
    }
    PutLe(&blob, Number(key, OSSL_PKEY_PARAM_RSA_D).get(), bits / 8);
  }
  return blob;
}

OsslPtr<EVP_PKEY> OpensslRsaKey(unsigned bits) {
  return OsslPtr<EVP_PKEY>(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
}

void ExpectSameNumbers(const EVP_PKEY* a, const EVP_PKEY* b, bool withPrivate) {
  std::vector<const char*> names = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E};
  if (withPrivate) {
    names.insert(names.end(), {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                               OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
                               OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1});
  }
  for (const char* name : names) {
    EXPECT_EQ(BN_cmp(Number(a, name).get(), Number(b, name).get()), 0) << name;
  }
}

Bytes ToBytes(const ByteBuffer& b) { return Bytes(b.data(), b.data() + b.size()); }

class KeyBlobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { key_ = OpensslRsaKey(1024).release(); }
  static void TearDownTestSuite() { EVP_PKEY_free(key_); }
  static EVP_PKEY* key_;
};
EVP_PKEY* KeyBlobTest::key_ = nullptr;

TEST_F(KeyBlobTest, EncodersWriteTheCryptoApiLayout) {
  ByteBuffer blob;
  ASSERT_EQ(EncodeRsaPrivateKeyBlob(key_, kCalgRsaKeyx, &blob), 0u);
  EXPECT_EQ(ToBytes(blob), HandMadeBlob(key_, 7, 0xA400));
  EXPECT_EQ(blob.size(), 20 + 9 * 1024 / 16);
  ASSERT_EQ(EncodeRsaPublicKeyBlob(key_, kCalgRsaSign, &blob), 0u);
  EXPECT_EQ(ToBytes(blob), HandMadeBlob(key_, 6, 0x2400));
  EXPECT_EQ(blob.size(), 20 + 1024 / 8);
}

// OpenSSL writes key exchange blobs (CALG_RSA_KEYX) in the same layout.
TEST_F(KeyBlobTest, SameBytesAsOpensslMsblobWriter) {
  for (const bool isPrivate : {false, true}) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    ASSERT_GT(isPrivate ? i2b_PrivateKey_bio(bio.get(), key_) : i2b_PublicKey_bio(bio.get(), key_),
              0);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    const Bytes reference(data, data + length);
    ByteBuffer blob;
    ASSERT_EQ(isPrivate ? EncodeRsaPrivateKeyBlob(key_, kCalgRsaKeyx, &blob)
                        : EncodeRsaPublicKeyBlob(key_, kCalgRsaKeyx, &blob),
              0u);
    EXPECT_EQ(ToBytes(blob), reference) << isPrivate;

    const unsigned char* in = blob.data();
    OsslPtr<EVP_PKEY> read(isPrivate ? b2i_PrivateKey(&in, blob.size()) : b2i_PublicKey(&in, blob.size()));
    ASSERT_NE(read, nullptr);
    ExpectSameNumbers(read.get(), key_, isPrivate);
  }
}

TEST_F(KeyBlobTest, ParsersGiveBackTheSameKey) {
  for (const uint8_t type : {uint8_t{6}, uint8_t{7}}) {
    Bytes blob = HandMadeBlob(key_, type, 0x2400);
    blob[2] = 0x5A;  // reserved: ignored
    OsslPtr<EVP_PKEY> parsed;
    BlobHeader header;
    ASSERT_EQ(ParseRsaKeyBlob(blob, &parsed, &header), 0u);
    EXPECT_EQ(header.type, type);
    EXPECT_EQ(header.algId, 0x2400u);
    ExpectSameNumbers(parsed.get(), key_, type == 7);
  }
}

// p and q may come in either order as long as the CRT values follow them.
TEST_F(KeyBlobTest, PrimesInTheOtherOrderWithTheirOwnCrtValues) {
  OsslPtr<BN_CTX> ctx(BN_CTX_new());
  const OsslPtr<BIGNUM> p = Number(key_, OSSL_PKEY_PARAM_RSA_FACTOR1);
  const OsslPtr<BIGNUM> q = Number(key_, OSSL_PKEY_PARAM_RSA_FACTOR2);
  OsslPtr<BIGNUM> pinv(BN_mod_inverse(nullptr, p.get(), q.get(), ctx.get()));
  Bytes blob = HandMadeBlob(key_, 7, 0xA400);
  blob.resize(148);  // header and modulus
  PutLe(&blob, q.get(), 64);
  PutLe(&blob, p.get(), 64);
  PutLe(&blob, Number(key_, OSSL_PKEY_PARAM_RSA_EXPONENT2).get(), 64);
  PutLe(&blob, Number(key_, OSSL_PKEY_PARAM_RSA_EXPONENT1).get(), 64);
  PutLe(&blob, pinv.get(), 64);
  PutLe(&blob, Number(key_, OSSL_PKEY_PARAM_RSA_D).get(), 128);
  OsslPtr<EVP_PKEY> parsed;
  BlobHeader header;
  ASSERT_EQ(ParseRsaKeyBlob(blob, &parsed, &header), 0u);
  EXPECT_EQ(EVP_PKEY_eq(parsed.get(), key_), 1);
}

struct Mutation {
  const char* what;
  std::function<void(Bytes&)> apply;
  uint32_t error;
};

void Flip(Bytes& b, size_t at) { b[at] ^= 0x01; }
void SetLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets in a 1024-bit PRIVATEKEYBLOB: n 20, p 148, q 212, dp 276, dq 340,
// qinv 404, d 468, end 596.
TEST_F(KeyBlobTest, PrivateBlobRejections) {
  const std::vector<Mutation> mutations = {
      {"shorter than its header", [](Bytes& b) { b.resize(7); }, win32::kNteBadData},
      {"header only", [](Bytes& b) { b.resize(8); }, win32::kNteBadData},
      {"SIMPLEBLOB type", [](Bytes& b) { b[0] = 1; }, win32::kNteBadType},
      {"blob version 3", [](Bytes& b) { b[1] = 3; }, win32::kNteBadVer},
      {"DES algorithm", [](Bytes& b) { SetLe32(b, 4, 0x6601); }, win32::kNteBadAlgid},
      {"magic RSA1", [](Bytes& b) { b[11] = '1'; }, win32::kNteBadData},
      {"bit length not a multiple of 16", [](Bytes& b) { SetLe32(b, 12, 1032); },
       win32::kNteBadData},
      {"bit length below 384", [](Bytes& b) { SetLe32(b, 12, 368); }, win32::kNteBadData},
      {"bit length above 16384", [](Bytes& b) { SetLe32(b, 12, 16400); }, win32::kNteBadData},
      {"one byte short", [](Bytes& b) { b.pop_back(); }, win32::kNteBadData},
      {"one byte long", [](Bytes& b) { b.push_back(0); }, win32::kNteBadData},
      {"modulus top byte zero", [](Bytes& b) { b[147] = 0; }, win32::kNteBadData},
      {"even modulus", [](Bytes& b) { Flip(b, 20); }, win32::kNteBadData},
      {"even exponent", [](Bytes& b) { SetLe32(b, 16, 65536); }, win32::kNteBadData},
      {"exponent one", [](Bytes& b) { SetLe32(b, 16, 1); }, win32::kNteBadData},
      {"other exponent", [](Bytes& b) { SetLe32(b, 16, 3); }, win32::kNteBadData},
      {"p changed", [](Bytes& b) { Flip(b, 150); }, win32::kNteBadData},
      {"q changed", [](Bytes& b) { Flip(b, 214); }, win32::kNteBadData},
      {"dp changed", [](Bytes& b) { Flip(b, 278); }, win32::kNteBadData},
      {"dq changed", [](Bytes& b) { Flip(b, 342); }, win32::kNteBadData},
      {"qinv changed", [](Bytes& b) { Flip(b, 406); }, win32::kNteBadData},
      {"d changed", [](Bytes& b) { Flip(b, 470); }, win32::kNteBadData},
      {"p and q exchanged, nothing else",
       [](Bytes& b) { std::swap_ranges(b.begin() + 148, b.begin() + 212, b.begin() + 212); },
       win32::kNteBadData},
  };
  const Bytes good = HandMadeBlob(key_, 7, 0xA400);
  ASSERT_EQ(good.size(), 596u);
  for (const Mutation& m : mutations) {
    Bytes blob = good;
    m.apply(blob);
    OsslPtr<EVP_PKEY> parsed;
    BlobHeader header;
    EXPECT_EQ(ParseRsaKeyBlob(blob, &parsed, &header), m.error) << m.what;
    EXPECT_EQ(parsed, nullptr) << m.what;
  }
}

TEST_F(KeyBlobTest, PublicBlobRejections) {
  const std::vector<Mutation> mutations = {
      {"magic RSA2", [](Bytes& b) { b[11] = '2'; }, win32::kNteBadData},
      {"bit length not a multiple of 8", [](Bytes& b) { SetLe32(b, 12, 1020); },
       win32::kNteBadData},
      {"one byte short", [](Bytes& b) { b.pop_back(); }, win32::kNteBadData},
      {"modulus top byte zero", [](Bytes& b) { b.back() = 0; }, win32::kNteBadData},
      {"PLAINTEXTKEYBLOB type", [](Bytes& b) { b[0] = 8; }, win32::kNteBadType},
      {"algorithm zero", [](Bytes& b) { SetLe32(b, 4, 0); }, win32::kNteBadAlgid},
  };
  const Bytes good = HandMadeBlob(key_, 6, 0xA400);
  for (const Mutation& m : mutations) {
    Bytes blob = good;
    m.apply(blob);
    OsslPtr<EVP_PKEY> parsed;
    BlobHeader header;
    EXPECT_EQ(ParseRsaKeyBlob(blob, &parsed, &header), m.error) << m.what;
  }
  // A 1032-bit key has a public blob but no private one: its primes are
  // wider than L/16 bytes.
  OsslPtr<EVP_PKEY> odd = OpensslRsaKey(1032);
  ByteBuffer blob;
  EXPECT_EQ(EncodeRsaPublicKeyBlob(odd.get(), kCalgRsaKeyx, &blob), 0u);
  EXPECT_EQ(EncodeRsaPrivateKeyBlob(odd.get(), kCalgRsaKeyx, &blob), win32::kNteBadKey);
}

TEST_F(KeyBlobTest, EncoderRejections) {
  ByteBuffer blob;
  EXPECT_EQ(EncodeRsaPrivateKeyBlob(key_, kCalgSha1, &blob), win32::kNteBadAlgid);
  EXPECT_EQ(EncodeRsaPublicKeyBlob(key_, 0, &blob), win32::kNteBadAlgid);
  OsslPtr<EVP_PKEY> ec(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  EXPECT_EQ(EncodeRsaPublicKeyBlob(ec.get(), kCalgRsaKeyx, &blob), win32::kNteBadKey);
  // The public half alone has no private blob.
  OsslPtr<EVP_PKEY> publicOnly;
  BlobHeader header;
  ASSERT_EQ(ParseRsaKeyBlob(HandMadeBlob(key_, 6, 0xA400), &publicOnly, &header), 0u);
  EXPECT_EQ(EncodeRsaPrivateKeyBlob(publicOnly.get(), kCalgRsaKeyx, &blob), win32::kNteBadKey);
  EXPECT_TRUE(blob.empty());
}

TEST(PlaintextKeyBlobTest, LayoutAndRejections) {
  const Bytes key24 = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                       13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  struct Case {
    uint32_t algId;
    size_t length;
  };
  for (const Case c : {Case{0x6601, 8}, Case{0x6609, 16}, Case{0x6603, 24}}) {
    const Bytes key(key24.begin(), key24.begin() + c.length);
    Bytes expected = {8, 2, 0, 0};
    PutLe32(&expected, c.algId);
    PutLe32(&expected, static_cast<uint32_t>(c.length));
    expected.insert(expected.end(), key.begin(), key.end());
    ByteBuffer blob;
    ASSERT_EQ(EncodePlaintextKeyBlob(c.algId, key, &blob), 0u);
    EXPECT_EQ(ToBytes(blob), expected);
    uint32_t algId = 0;
    ByteBuffer parsed;
    ASSERT_EQ(ParsePlaintextKeyBlob(expected, &algId, &parsed), 0u);
    EXPECT_EQ(algId, c.algId);
    EXPECT_EQ(ToBytes(parsed), key);
  }

  Bytes good = {8, 2, 0, 0, 0x01, 0x66, 0, 0, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<Mutation> mutations = {
      {"shorter than its header", [](Bytes& b) { b.resize(5); }, win32::kNteBadData},
      {"no length", [](Bytes& b) { b.resize(10); }, win32::kNteBadData},
      {"PRIVATEKEYBLOB type", [](Bytes& b) { b[0] = 7; }, win32::kNteBadType},
      {"blob version 1", [](Bytes& b) { b[1] = 1; }, win32::kNteBadVer},
      {"RC4 algorithm", [](Bytes& b) { b[5] = 0x68; }, win32::kNteBadAlgid},
      {"length field 16 for DES", [](Bytes& b) { b[8] = 16; }, win32::kNteBadData},
      {"key byte missing", [](Bytes& b) { b.pop_back(); }, win32::kNteBadData},
      {"extra byte", [](Bytes& b) { b.push_back(9); }, win32::kNteBadData},
      {"Triple-DES with 8 bytes", [](Bytes& b) { b[4] = 0x03; }, win32::kNteBadData},
  };
  for (const Mutation& m : mutations) {
    Bytes blob = good;
    m.apply(blob);
    uint32_t algId = 0;
    ByteBuffer parsed;
    EXPECT_EQ(ParsePlaintextKeyBlob(blob, &algId, &parsed), m.error) << m.what;
    EXPECT_TRUE(parsed.empty()) << m.what;
  }
  ByteBuffer blob;
  EXPECT_EQ(EncodePlaintextKeyBlob(0x6801, key24, &blob), win32::kNteBadAlgid);
  EXPECT_EQ(EncodePlaintextKeyBlob(0x6603, std::span(key24).first(16), &blob), win32::kNteBadData);
}

}  // namespace
}  // namespace quorvant
