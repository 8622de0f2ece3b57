#include "platform/keys/key_blob.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

#include <array>
#include <cstring>

#include "base/openssl.h"
#include "encoding/byte_order.h"
#include "base/win32_errors.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {




void WriteHeader(uint8_t* p, uint8_t type, uint32_t algId) {
  p[0] = type;
  p[1] = kCurBlobVersion;
  p[2] = 0;
  p[3] = 0;
  StoreLe32(p + 4, algId);
}

bool IsRsaAlgorithm(uint32_t algId) { return algId == kCalgRsaKeyx || algId == kCalgRsaSign; }

// The RSA numbers in blob order, with the parameter names OpenSSL knows
// them by and the width of their field as a divisor of L (8 or 16).
struct RsaField {
  const char* param;
  uint32_t divisor;
};
constexpr std::array<RsaField, 7> kPrivateFields = {{
    {OSSL_PKEY_PARAM_RSA_N, 8},
    {OSSL_PKEY_PARAM_RSA_FACTOR1, 16},
    {OSSL_PKEY_PARAM_RSA_FACTOR2, 16},
    {OSSL_PKEY_PARAM_RSA_EXPONENT1, 16},
    {OSSL_PKEY_PARAM_RSA_EXPONENT2, 16},
    {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 16},
    {OSSL_PKEY_PARAM_RSA_D, 8},
}};
enum FieldIndex { kN, kP, kQ, kDp, kDq, kQinv, kD };

OsslPtr<BIGNUM> GetNumber(const EVP_PKEY* key, const char* param) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, param, &raw) <= 0) {
    ERR_clear_error();
    return nullptr;
  }
  return OsslPtr<BIGNUM>(raw);
}

// Writes the RSAPUBKEY-prefixed blob: header, magic, L, e, then `count`
// numbers of kPrivateFields in order.
uint32_t EncodeRsaBlob(const EVP_PKEY* key, uint8_t type, uint32_t algId, ByteBuffer* blob) {
  blob->clear();
  if (!IsRsaAlgorithm(algId)) return win32::kNteBadAlgid;
  if (key == nullptr || !EVP_PKEY_is_a(key, "RSA")) return win32::kNteBadKey;
  const bool isPrivate = type == kPrivatekeyblob;
  const size_t count = isPrivate ? kPrivateFields.size() : 1;

  std::array<OsslPtr<BIGNUM>, kPrivateFields.size()> numbers;
  for (size_t i = 0; i < count; ++i) {
    numbers[i] = GetNumber(key, kPrivateFields[i].param);
    if (!numbers[i]) return win32::kNteBadKey;
  }
  const OsslPtr<BIGNUM> e = GetNumber(key, OSSL_PKEY_PARAM_RSA_E);
  if (!e || BN_num_bytes(e.get()) > 4) return win32::kNteBadKey;

  const uint32_t bits = 8u * static_cast<uint32_t>(BN_num_bytes(numbers[kN].get()));
  if (bits == 0 || (isPrivate && bits % 16 != 0)) return win32::kNteBadKey;
  size_t total = kRsaBlobPrefixSize;
  for (size_t i = 0; i < count; ++i) {
    const size_t width = bits / kPrivateFields[i].divisor;
    if (static_cast<size_t>(BN_num_bytes(numbers[i].get())) > width) return win32::kNteBadKey;
    total += width;
  }

  if (!blob->allocate(static_cast<int32_t>(total))) return win32::kNteNoMemory;
  uint8_t* p = blob->data();
  WriteHeader(p, type, algId);
  StoreLe32(p + 8, isPrivate ? kRsa2Magic : kRsa1Magic);
  StoreLe32(p + 12, bits);
  uint8_t exponent[4] = {};
  BN_bn2lebinpad(e.get(), exponent, sizeof exponent);
  std::memcpy(p + 16, exponent, sizeof exponent);
  size_t offset = kRsaBlobPrefixSize;
  for (size_t i = 0; i < count; ++i) {
    const int width = static_cast<int>(bits / kPrivateFields[i].divisor);
    if (BN_bn2lebinpad(numbers[i].get(), p + offset, width) != width) {
      blob->clear();
      return win32::kNteFail;
    }
    offset += static_cast<size_t>(width);
  }
  return 0;
}

// The relations a key pair's numbers must satisfy (PKCS #1, RFC 8017,
// 3.2): n = p*q, dP = d mod (p-1), dQ = d mod (q-1), q*qInv = 1 mod p, and
// e*dP = 1 mod (p-1) so that d belongs to e.
bool PrivateNumbersAgree(const std::array<OsslPtr<BIGNUM>, kPrivateFields.size()>& v, const BIGNUM* e) {
  OsslPtr<BN_CTX> ctx(BN_CTX_secure_new());
  OsslPtr<BIGNUM> t(BN_secure_new());
  OsslPtr<BIGNUM> p1(BN_secure_new());
  OsslPtr<BIGNUM> q1(BN_secure_new());
  if (!ctx || !t || !p1 || !q1) return false;
  if (BN_cmp(v[kP].get(), BN_value_one()) <= 0 || BN_cmp(v[kQ].get(), BN_value_one()) <= 0) {
    return false;
  }
  const bool ok =
      BN_mul(t.get(), v[kP].get(), v[kQ].get(), ctx.get()) && BN_cmp(t.get(), v[kN].get()) == 0 &&
      BN_sub(p1.get(), v[kP].get(), BN_value_one()) &&
      BN_sub(q1.get(), v[kQ].get(), BN_value_one()) &&
      BN_mod(t.get(), v[kD].get(), p1.get(), ctx.get()) && BN_cmp(t.get(), v[kDp].get()) == 0 &&
      BN_mod(t.get(), v[kD].get(), q1.get(), ctx.get()) && BN_cmp(t.get(), v[kDq].get()) == 0 &&
      BN_mod_mul(t.get(), v[kQ].get(), v[kQinv].get(), v[kP].get(), ctx.get()) &&
      BN_is_one(t.get()) && BN_mod_mul(t.get(), e, v[kDp].get(), p1.get(), ctx.get()) &&
      BN_is_one(t.get());
  ERR_clear_error();
  return ok;
}

}  // namespace

bool ReadBlobHeader(std::span<const uint8_t> blob, BlobHeader* header) {
  if (blob.size() < kBlobHeaderSize) return false;
  header->type = blob[0];
  header->version = blob[1];
  header->reserved = static_cast<uint16_t>(blob[2] | blob[3] << 8);
  header->algId = LoadLe32(blob.data() + 4);
  return true;
}

uint32_t EncodeRsaPublicKeyBlob(const EVP_PKEY* key, uint32_t algId, ByteBuffer* blob) {
  return EncodeRsaBlob(key, kPublickeyblob, algId, blob);
}

uint32_t EncodeRsaPrivateKeyBlob(const EVP_PKEY* key, uint32_t algId, ByteBuffer* blob) {
  return EncodeRsaBlob(key, kPrivatekeyblob, algId, blob);
}

uint32_t ParseRsaKeyBlob(std::span<const uint8_t> blob, OsslPtr<EVP_PKEY>* key, BlobHeader* header) {
  key->reset();
  if (!ReadBlobHeader(blob, header)) return win32::kNteBadData;
  if (header->type != kPublickeyblob && header->type != kPrivatekeyblob) {
    return win32::kNteBadType;
  }
  if (header->version != kCurBlobVersion) return win32::kNteBadVer;
  if (!IsRsaAlgorithm(header->algId)) return win32::kNteBadAlgid;
  const bool isPrivate = header->type == kPrivatekeyblob;
  if (blob.size() < kRsaBlobPrefixSize) return win32::kNteBadData;
  const uint8_t* p = blob.data();
  const uint32_t bits = LoadLe32(p + 12);
  if (LoadLe32(p + 8) != (isPrivate ? kRsa2Magic : kRsa1Magic) ||
      bits % (isPrivate ? 16 : 8) != 0 || bits < kRsaMinBits || bits > kRsaMaxBits) {
    return win32::kNteBadData;
  }
  const size_t count = isPrivate ? kPrivateFields.size() : 1;
  size_t expected = kRsaBlobPrefixSize;
  for (size_t i = 0; i < count; ++i) expected += bits / kPrivateFields[i].divisor;
  if (blob.size() != expected) return win32::kNteBadData;

  OsslPtr<BIGNUM> e(BN_new());
  std::array<OsslPtr<BIGNUM>, kPrivateFields.size()> numbers;
  if (!e || BN_lebin2bn(p + 16, 4, e.get()) == nullptr) return win32::kNteNoMemory;
  size_t offset = kRsaBlobPrefixSize;
  for (size_t i = 0; i < count; ++i) {
    const int width = static_cast<int>(bits / kPrivateFields[i].divisor);
    numbers[i].reset(BN_secure_new());
    if (!numbers[i] || BN_lebin2bn(p + offset, width, numbers[i].get()) == nullptr) {
      return win32::kNteNoMemory;
    }
    offset += static_cast<size_t>(width);
  }
  // The modulus fills its field (the top byte is the last of the field), and
  // both it and the exponent are odd, as every RSA modulus and exponent is.
  const BIGNUM* n = numbers[kN].get();
  if (p[kRsaBlobPrefixSize + bits / 8 - 1] == 0 || !BN_is_odd(n) || !BN_is_odd(e.get()) ||
      BN_is_one(e.get())) {
    return win32::kNteBadData;
  }
  if (isPrivate && !PrivateNumbersAgree(numbers, e.get())) return win32::kNteBadData;

  OsslPtr<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
  if (!bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get())) {
    return win32::kNteNoMemory;
  }
  for (size_t i = 0; i < count; ++i) {
    if (!OSSL_PARAM_BLD_push_BN(bld.get(), kPrivateFields[i].param, numbers[i].get())) {
      return win32::kNteNoMemory;
    }
  }
  OsslPtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld.get()));
  OsslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, isPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        params.get()) <= 0) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  key->reset(raw);
  return 0;
}

size_t SymmetricKeyLength(uint32_t algId) {
  switch (algId) {
    case static_cast<uint32_t>(CALG_DES):
      return 8;
    case static_cast<uint32_t>(CALG_3DES_112):
      return 16;
    case static_cast<uint32_t>(CALG_3DES):
      return 24;
    default:
      return 0;
  }
}

uint32_t EncodePlaintextKeyBlob(uint32_t algId, std::span<const uint8_t> key, ByteBuffer* blob) {
  blob->clear();
  const size_t length = SymmetricKeyLength(algId);
  if (length == 0) return win32::kNteBadAlgid;
  if (key.size() != length) return win32::kNteBadData;
  if (!blob->allocate(static_cast<int32_t>(12 + length))) return win32::kNteNoMemory;
  uint8_t* p = blob->data();
  WriteHeader(p, kPlaintextkeyblob, algId);
  StoreLe32(p + 8, static_cast<uint32_t>(length));
  std::memcpy(p + 12, key.data(), length);
  return 0;
}

uint32_t ParsePlaintextKeyBlob(std::span<const uint8_t> blob, uint32_t* algId, ByteBuffer* key) {
  key->clear();
  BlobHeader header;
  if (!ReadBlobHeader(blob, &header)) return win32::kNteBadData;
  if (header.type != kPlaintextkeyblob) return win32::kNteBadType;
  if (header.version != kCurBlobVersion) return win32::kNteBadVer;
  const size_t length = SymmetricKeyLength(header.algId);
  if (length == 0) return win32::kNteBadAlgid;
  if (blob.size() < 12 || LoadLe32(blob.data() + 8) != length || blob.size() != 12 + length) {
    return win32::kNteBadData;
  }
  if (!key->append(blob.data() + 12, static_cast<int32_t>(length))) return win32::kNteNoMemory;
  *algId = header.algId;
  return 0;
}

}  // namespace quorvant
