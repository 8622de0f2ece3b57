// The PKCS #10 certification request (RFC 2986) of a container's key, in
// the encoding the platform gives it:
//
//   CertificationRequest ::= SEQUENCE {
//     certificationRequestInfo SEQUENCE {
//       version INTEGER 0,
//       subject Name: one RDN, one commonName (2.5.4.3) as a BMPString of the
//               caller's UTF-16 code units (surrogate pairs kept as they come),
//       subjectPKInfo: rsaEncryption with NULL parameters,
//       attributes [0] IMPLICIT SET OF Attribute: empty },
//     signatureAlgorithm: sha1WithRSAEncryption (sha256WithRSAEncryption for
//                         a provider of type 24) with NULL parameters,
//     signature BIT STRING }
//
// The signature is made by the container's key through the provider, over a
// digest computed by the component's own digest engine.
#ifndef QUORVANT_ENROLL_PKCS10_REQUEST_H_
#define QUORVANT_ENROLL_PKCS10_REQUEST_H_

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace quorvant {

class CryptKey;
class ProviderContext;

// The DER of the request. Failures: 5302 with the platform's error (key
// export, signing), 5002 for memory.
Result<std::vector<uint8_t>> BuildRequest(ProviderContext& context, const CryptKey& key,
                                          uint32_t keySpec, std::u16string_view commonName,
                                          uint32_t providerType);

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_PKCS10_REQUEST_H_
