// The certificate chain of an end-entity certificate as the platform's
// chain engine gives it (CertGetCertificateChain with the default engine,
// no usage requirement and no flags): built from the current user's ROOT
// store (the trust anchors), the CA store and an optional additional store,
// verified with OpenSSL's verifier at a given time. Nothing is fetched from
// the network and revocation is not checked, as the platform does not
// without its revocation flags.
#ifndef QUORVANT_PLATFORM_CERTIFICATE_CHAIN_H_
#define QUORVANT_PLATFORM_CERTIFICATE_CHAIN_H_

#include <cstdint>
#include <span>
#include <vector>

#include "base/outcome.h"
#include "encoding/byte_buffer.h"
#include "platform/stores/cert_store.h"

namespace quorvant {

// CERT_TRUST_* error bits of a chain's trust status (wincrypt.h).
inline constexpr uint32_t kCertTrustNoError = 0x00000000;
inline constexpr uint32_t kCertTrustIsNotTimeValid = 0x00000001;
inline constexpr uint32_t kCertTrustIsNotTimeNested = 0x00000002;
inline constexpr uint32_t kCertTrustIsRevoked = 0x00000004;
inline constexpr uint32_t kCertTrustIsNotSignatureValid = 0x00000008;
inline constexpr uint32_t kCertTrustIsNotValidForUsage = 0x00000010;
inline constexpr uint32_t kCertTrustIsUntrustedRoot = 0x00000020;
inline constexpr uint32_t kCertTrustRevocationStatusUnknown = 0x00000040;
inline constexpr uint32_t kCertTrustIsCyclic = 0x00000080;
inline constexpr uint32_t kCertTrustInvalidExtension = 0x00000100;
inline constexpr uint32_t kCertTrustInvalidPolicyConstraints = 0x00000200;
inline constexpr uint32_t kCertTrustInvalidBasicConstraints = 0x00000400;
inline constexpr uint32_t kCertTrustInvalidNameConstraints = 0x00000800;
inline constexpr uint32_t kCertTrustIsPartialChain = 0x00010000;

struct CertificateChain {
  // The CERT_TRUST_* error bits of the whole chain.
  uint32_t trustErrorStatus = kCertTrustNoError;
  // The first simple chain: the end-entity certificate first, the root (or
  // the last certificate that could be found) last.
  std::vector<ByteBuffer> elements;
};

// Builds and verifies the chain of `endEntity` at `atUnixSeconds`.
// `additional` may be null. Fails (with the platform's error number as the
// system error) only when the chain cannot be built at all: an end-entity
// certificate that does not parse, a store that cannot be opened, memory.
// A chain with problems is a success whose trust status says what they are.
[[nodiscard]] Result<CertificateChain> BuildCertificateChain(CertificateStores& stores,
                                                             std::span<const uint8_t> endEntity,
                                                             const CertStore* additional,
                                                             int64_t atUnixSeconds);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CERTIFICATE_CHAIN_H_
