// RSA with OpenSSL for the key provider: key generation and the PKCS #1 v1.5 signature of a finished
// digest in the byte order CryptSignHash gives.
#ifndef QUORVANT_PLATFORM_RSA_KEY_H_
#define QUORVANT_PLATFORM_RSA_KEY_H_

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <span>

#include "base/openssl.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

// Smallest and largest RSA modulus the provider takes in a key blob, and
// the smallest it generates (OpenSSL makes no RSA key below 512 bits), in
// bits.
inline constexpr uint32_t kRsaMinBits = 384;
inline constexpr uint32_t kRsaMaxBits = 16384;
inline constexpr uint32_t kRsaMinGeneratedBits = 512;

// A new RSA key pair of `bits` bits with public exponent 65537. Returns 0,
// or NTE_FAIL when OpenSSL refuses (for example a size it does not support).
[[nodiscard]] uint32_t GenerateRsaKey(uint32_t bits, OsslPtr<EVP_PKEY>* out);

// The digest of a CryptoAPI hash algorithm (CALG_MD5, CALG_SHA1,
// CALG_SHA_256, CALG_SHA_384, CALG_SHA_512); null for any other value.
const EVP_MD* DigestOfAlgorithm(uint32_t hashAlgId);

// RSASSA-PKCS1-v1_5 (RFC 8017, 8.2.1) over a digest computed elsewhere.
// With `withDigestInfo` the digest is wrapped in its DigestInfo (RFC 8017,
// 9.2, note 1); without it (CRYPT_NOHASHOID) the bare digest is padded. The
// signature is the full modulus length, least significant byte first, as
// CryptSignHash writes it. Returns 0, NTE_BAD_ALGID for an unknown hash
// algorithm, NTE_BAD_HASH when the digest has the wrong length, NTE_BAD_LEN
// when the padded digest does not fit the modulus, NTE_FAIL otherwise.
[[nodiscard]] uint32_t SignDigestPkcs1(EVP_PKEY* key, uint32_t hashAlgId,
                                       std::span<const uint8_t> digest, bool withDigestInfo,
                                       ByteBuffer* signature);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_RSA_KEY_H_
