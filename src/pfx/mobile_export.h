// The mobile export: an RSA key pair with its certificate and a few of the
// certificate's attributes in one binary record, encrypted with three-key
// Triple DES and sent as one line of Base64. Mobile applications read this
// form, so its layout is fixed byte for byte:
//
//   "MORL", n (key bits), e, modulus (n/8), p, q, d mod (p-1), d mod (q-1),
//   q^-1 mod p (n/16 each), d (n/8), CN length + CN (narrow text), serial
//   length + serial (most significant byte first), SHA-1 thumbprint (20),
//   NotBefore and NotAfter (14 each, local time "%04d%02d%02d%02d%02d%02d"),
//   certificate length + DER.
//
// Integers are 32-bit big-endian; the RSA numbers are the key blob's,
// reversed into big-endian order. The cipher key is SHA-1 of the password's
// narrow bytes followed by "MORL" (24 bytes: K1 K2 K3), CBC with a zero IV
// and PKCS #5 padding, so the same inputs always give the same text.
#ifndef QUORVANT_PFX_MOBILE_EXPORT_H_
#define QUORVANT_PFX_MOBILE_EXPORT_H_

#include <span>
#include <string>
#include <string_view>

#include "base/outcome.h"
#include "certs/certificate_info.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

// The plaintext record from a certificate and its PRIVATEKEYBLOB. 5063 when
// the blob is not an RSA private key blob of the layout key_blob.h reads,
// when the certificate cannot be read, or when a validity time has no text
// form (a record without it would not be read back).
[[nodiscard]] Result<ByteBuffer> BuildMobileRecord(const CertificateInfo& certificate,
                                                   std::span<const uint8_t> privateKeyBlob);

// The Base64 text of the encrypted record. 5005 for an empty password (the
// key would then be protected by a constant), 5035 when the digest fails,
// 5063 for a record that cannot be built or encrypted.
[[nodiscard]] Result<std::string> BuildMobileText(const CertificateInfo& certificate,
                                                  std::span<const uint8_t> privateKeyBlob,
                                                  std::string_view password);

}  // namespace quorvant

#endif  // QUORVANT_PFX_MOBILE_EXPORT_H_
