// The certification authority's reply as AcceptPKCS7 receives it, after
// Base64: a PKCS #7 (RFC 2315) message carrying certificates, usually a
// degenerate signed-data with no signers, or a single certificate. Either
// may come in DER or in BER with indefinite lengths, as CA toolkits stream
// them.
#ifndef QUORVANT_ENROLL_REPLY_READER_H_
#define QUORVANT_ENROLL_REPLY_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/outcome.h"

namespace quorvant {

// Largest reply and most certificates taken; anything beyond is refused
// before it is read further.
inline constexpr size_t kMaxReplyBytes = size_t{1} << 20;
inline constexpr size_t kMaxReplyCertificates = 32;

struct ReplyContents {
  // False when the bytes are not a PKCS #7 message and are taken as one
  // certificate: its bytes as they came, or the DER of a BER certificate.
  bool message = false;
  // The certificates in message order, each re-encoded in DER.
  std::vector<std::vector<uint8_t>> certificates;
};

// 5040 for a reply over the limits or a message whose certificates cannot
// be read (a PKCS #7 type other than signed-data).
Result<ReplyContents> ReadReply(std::span<const uint8_t> bytes);

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_REPLY_READER_H_
