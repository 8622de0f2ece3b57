// CryptoAPI key blobs, byte for byte.
//
// Every blob starts with a BLOBHEADER of 8 bytes: bType, bVersion (2),
// reserved (2 bytes, written as 0, ignored when read) and aiKeyAlg
// (little-endian). Then:
//
//   PUBLICKEYBLOB (6)    RSAPUBKEY: magic "RSA1", bitlen L, pubexp e (each
//                        32-bit little-endian); modulus n, L/8 bytes.
//   PRIVATEKEYBLOB (7)   RSAPUBKEY with magic "RSA2"; n (L/8), prime1 p,
//                        prime2 q, exponent1 d mod (p-1), exponent2
//                        d mod (q-1), coefficient q^-1 mod p (L/16 each),
//                        privateExponent d (L/8).
//   PLAINTEXTKEYBLOB (8) key length in bytes (32-bit little-endian), then
//                        the key bytes.
//
// All numbers are unsigned, least significant byte first, zero-padded to
// their field's width. The parsers take untrusted bytes (a PKCS #12 import,
// a caller's key) and check every length and every relation between the RSA
// numbers before a key is built from them.
#ifndef QUORVANT_PLATFORM_KEY_BLOB_H_
#define QUORVANT_PLATFORM_KEY_BLOB_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "encoding/byte_buffer.h"
#include "platform/keys/rsa_key.h"

namespace quorvant {

struct BlobHeader {
  uint8_t type = 0;
  uint8_t version = 0;
  uint16_t reserved = 0;
  uint32_t algId = 0;
};

inline constexpr size_t kBlobHeaderSize = 8;
// BLOBHEADER and RSAPUBKEY: where the modulus starts.
inline constexpr size_t kRsaBlobPrefixSize = 20;

// The first 8 bytes of `blob`; false when it is shorter.
[[nodiscard]] bool ReadBlobHeader(std::span<const uint8_t> blob, BlobHeader* header);

// Blobs of an RSA key with the algorithm identifier `algId` (CALG_RSA_KEYX
// or CALG_RSA_SIGN) in their header. L is the modulus length rounded up to
// whole bytes. Returns 0, NTE_BAD_ALGID for another algorithm, NTE_BAD_KEY
// when the key is not RSA, lacks its private half (private blob only), or
// does not fit the layout (a public exponent wider than 32 bits; for the
// private blob, L not a multiple of 16 or a number wider than its field).
[[nodiscard]] uint32_t EncodeRsaPublicKeyBlob(const EVP_PKEY* key, uint32_t algId,
                                              ByteBuffer* blob);
[[nodiscard]] uint32_t EncodeRsaPrivateKeyBlob(const EVP_PKEY* key, uint32_t algId,
                                               ByteBuffer* blob);

// Reads a PUBLICKEYBLOB or PRIVATEKEYBLOB; *header tells which and carries
// the algorithm. Returns 0, or:
//   NTE_BAD_TYPE   another blob type;
//   NTE_BAD_VER    bVersion other than 2;
//   NTE_BAD_ALGID  aiKeyAlg neither CALG_RSA_KEYX nor CALG_RSA_SIGN;
//   NTE_BAD_DATA   wrong magic, L not a multiple of 8 (16 for a private
//                  blob) or outside 384..16384, a length other than the
//                  layout's, a modulus with a zero top byte, an even modulus
//                  or exponent, or private numbers that do not belong
//                  together (n != p*q, wrong CRT values).
[[nodiscard]] uint32_t ParseRsaKeyBlob(std::span<const uint8_t> blob, OsslPtr<EVP_PKEY>* key,
                                       BlobHeader* header);

// PLAINTEXTKEYBLOB of a DES (8 bytes), two-key Triple-DES (16) or
// three-key Triple-DES (24) key.
[[nodiscard]] uint32_t EncodePlaintextKeyBlob(uint32_t algId, std::span<const uint8_t> key,
                                              ByteBuffer* blob);
// Reads a PLAINTEXTKEYBLOB: 0, NTE_BAD_TYPE, NTE_BAD_VER, NTE_BAD_ALGID (not
// CALG_DES, CALG_3DES or CALG_3DES_112) or NTE_BAD_DATA (key length wrong for
// the algorithm, or not the rest of the blob). The key bytes go to *key.
[[nodiscard]] uint32_t ParsePlaintextKeyBlob(std::span<const uint8_t> blob, uint32_t* algId,
                                             ByteBuffer* key);

// The key length a block cipher algorithm takes in a PLAINTEXTKEYBLOB, or 0
// for an algorithm this layer does not know.
size_t SymmetricKeyLength(uint32_t algId);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_KEY_BLOB_H_
