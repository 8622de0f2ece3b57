#include "enroll/weak_key.h"

#include <cstddef>

#include "base/openssl.h"
#include "encoding/byte_buffer.h"
#include "encoding/byte_order.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

// A little-endian field of the blob as a big number.
OsslPtr<BIGNUM> Number(std::span<const uint8_t> field, bool secret) {
  OsslPtr<BIGNUM> n(BN_lebin2bn(field.data(), static_cast<int>(field.size()), nullptr));
  if (n && secret) BN_set_flags(n.get(), BN_FLG_CONSTTIME);
  return n;
}

bool Equal(const BIGNUM* a, const BIGNUM* b) { return BN_cmp(a, b) == 0; }

}  // namespace

bool IsWeakRsaKeyBlob(std::span<const uint8_t> blob) {
  if (blob.size() < kRsaBlobPrefixSize) return true;
  if (blob[0] != kPrivatekeyblob) return true;
  if (LoadLe32(blob.data() + 8) != kRsa2Magic) return true;
  const uint32_t bits = LoadLe32(blob.data() + 12);
  if (bits < kRsaMinBits || bits > kRsaMaxBits || bits % 16 != 0) return true;
  const size_t full = bits / 8;
  const size_t half = bits / 16;
  if (blob.size() != kRsaBlobPrefixSize + 2 * full + 5 * half) return true;

  OpensslErrorScope errors;
  size_t at = kRsaBlobPrefixSize;
  auto take = [&](size_t length, bool secret) {
    OsslPtr<BIGNUM> n = Number(blob.subspan(at, length), secret);
    at += length;
    return n;
  };
  OsslPtr<BIGNUM> n = take(full, false);
  OsslPtr<BIGNUM> p = take(half, true);
  OsslPtr<BIGNUM> q = take(half, true);
  OsslPtr<BIGNUM> dp = take(half, true);
  OsslPtr<BIGNUM> dq = take(half, true);
  OsslPtr<BIGNUM> qinv = take(half, true);
  OsslPtr<BIGNUM> d = take(full, true);
  OsslPtr<BIGNUM> e = Number(blob.subspan(16, 4), false);
  OsslPtr<BN_CTX> ctx(BN_CTX_secure_new_ex(OpensslContext()));
  OsslPtr<BIGNUM> product(BN_secure_new());
  OsslPtr<BIGNUM> p1(BN_secure_new());
  OsslPtr<BIGNUM> q1(BN_secure_new());
  OsslPtr<BIGNUM> rest(BN_secure_new());
  OsslPtr<BIGNUM> phi(BN_secure_new());
  OsslPtr<BIGNUM> lambda(BN_secure_new());
  if (!n || !p || !q || !dp || !dq || !qinv || !d || !e || !ctx || !product || !p1 || !q1 ||
      !rest || !phi || !lambda) {
    return true;
  }
  for (BIGNUM* secret : {product.get(), p1.get(), q1.get(), rest.get(), phi.get(), lambda.get()}) {
    BN_set_flags(secret, BN_FLG_CONSTTIME);
  }
  // Zero primes would make the divisions below fail; they fail check 1
  // anyway unless n is zero too, which a blob may claim.
  if (BN_is_zero(p.get()) || BN_is_zero(q.get()) || BN_is_one(p.get()) || BN_is_one(q.get())) {
    return true;
  }

  // 1. p * q = n
  if (!BN_mul(product.get(), p.get(), q.get(), ctx.get()) || !Equal(product.get(), n.get())) {
    return true;
  }
  if (!BN_copy(p1.get(), p.get()) || !BN_sub_word(p1.get(), 1) || !BN_copy(q1.get(), q.get()) ||
      !BN_sub_word(q1.get(), 1)) {
    return true;
  }
  // 2. and 3. the CRT exponents.
  if (!BN_mod(rest.get(), d.get(), p1.get(), ctx.get()) || !Equal(rest.get(), dp.get())) {
    return true;
  }
  if (!BN_mod(rest.get(), d.get(), q1.get(), ctx.get()) || !Equal(rest.get(), dq.get())) {
    return true;
  }
  // 4. the CRT coefficient.
  if (BN_mod_inverse(rest.get(), q.get(), p.get(), ctx.get()) == nullptr ||
      !Equal(rest.get(), qinv.get())) {
    return true;
  }
  // 5. d * e = 1 modulo lambda(n) = (p - 1)(q - 1) / gcd(p - 1, q - 1).
  if (!BN_mul(phi.get(), p1.get(), q1.get(), ctx.get()) ||
      !BN_gcd(rest.get(), p1.get(), q1.get(), ctx.get()) ||
      !BN_div(lambda.get(), nullptr, phi.get(), rest.get(), ctx.get()) ||
      !BN_mod_mul(rest.get(), d.get(), e.get(), lambda.get(), ctx.get()) || !BN_is_one(rest.get())) {
    return true;
  }
  // 6. e is prime to (p - 1)(q - 1).
  if (!BN_gcd(rest.get(), e.get(), phi.get(), ctx.get()) || !BN_is_one(rest.get())) return true;
  return false;
}

bool IsWeakRsaKey(const CryptKey* key, uint32_t* capiCode) {
  if (key == nullptr) return true;
  ByteBuffer blob;
  if (const uint32_t error = key->exportKey(kPrivatekeyblob, 0, &blob)) {
    if (capiCode != nullptr) *capiCode = error;
    return true;
  }
  return IsWeakRsaKeyBlob(blob.bytes());
}

}  // namespace quorvant
