// PKCS #7 SignedData (RFC 2315, section 9) as the platform's message encoder
// writes it for one signer: DER with definite lengths throughout; version 1;
// the digest algorithm with NULL parameters in the digestAlgorithms set and
// in the signer information; rsaEncryption with NULL parameters as the
// digest-encryption algorithm; the certificates in the caller's order (they
// are an IMPLICIT SET OF that the platform does not sort); the signer named
// by the issuer and serial number octets of its own certificate, exactly as
// they are encoded there.
//
// With a signing time, the signer carries authenticated attributes (section
// 9.2): content type, signing time and message digest, in the DER order of
// their encodings (X.690, 11.6), and the signature covers their SET
// encoding. Without one, it carries none and the signature covers the
// content's digest.
#ifndef QUORVANT_SIGN_SIGNED_DATA_H_
#define QUORVANT_SIGN_SIGNED_DATA_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "base/outcome.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

enum class SignedDataDigest {
  kSha1,  // digest algorithm 1.3.14.3.2.26
  // The digest is MD5, identified as 1.2.840.113549.1.1.4 (md5WithRSA), the
  // identifier the component has always placed in the message.
  kMd5WithRsa,
};

struct SignedDataRequest {
  // The signer's certificate (DER).
  std::span<const uint8_t> signerCertificate;
  std::span<const uint8_t> content;
  SignedDataDigest digest = SignedDataDigest::kSha1;
  bool detached = false;
  // Seconds since 1970 (UTC); present: the authenticated attributes.
  std::optional<int64_t> signingTime;
  // The certificates carried, in this order (none, the signer, the chain).
  std::vector<std::span<const uint8_t>> certificates;
};

// Signs a finished digest with the signer's key: `hashAlgId` is CALG_MD5 or
// CALG_SHA1; the signature is the PKCS #1 v1.5 octet string, most
// significant byte first. A failure's code and system error go unchanged
// into the result of EncodeSignedData.
using DigestSigner = std::function<Outcome(uint32_t hashAlgId, std::span<const uint8_t> digest,
                                           ByteBuffer* signature)>;

// The encoded ContentInfo. 5040 when the signer's certificate does not
// parse, 5002 when memory runs out, or the signer's failure.
[[nodiscard]] Result<ByteBuffer> EncodeSignedData(const SignedDataRequest& request,
                                                  const DigestSigner& sign);

// The DER of a signing-time value: UTCTime from 1950 to 2049, GeneralizedTime
// outside (RFC 5652, 11.3). Nothing for a time before year 1 or after 9999.
std::optional<std::vector<uint8_t>> EncodeSigningTime(int64_t unixSeconds);

}  // namespace quorvant

#endif  // QUORVANT_SIGN_SIGNED_DATA_H_
