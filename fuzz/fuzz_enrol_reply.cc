// The certification authority's reply as AcceptPKCS7 reads it after Base64:
// the PKCS #7 (or bare certificate) reader, then every certificate it hands
// out parsed and its names read, as the sorting into CA and ROOT does.
// Never a crash; the reader keeps to its limits.
//
// Seeds (a 512-bit self-signed certificate, to keep them small): `openssl
// crl2pkcs7 -nocrl -outform DER` of it once and twice, the BER stream of
// `openssl cms -sign -stream -nodetach -outform DER` signed with it, the
// bare certificate, a truncated message and an enveloped-data message.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "enroll/reply_reader.h"
#include "platform/certificates/certificate.h"
#include "platform/certificates/certificate_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant;
  const std::span<const uint8_t> input(data, size);
  Result<ReplyContents> contents = ReadReply(input);
  if (!contents.ok()) return 0;
  if (contents->certificates.size() > kMaxReplyCertificates) std::abort();
  if (!contents->message && contents->certificates.size() != 1) std::abort();
  for (const auto& der : contents->certificates) {
    Certificate certificate;
    if (Certificate::Parse(der, &certificate) != 0) continue;
    (void)X500NameText(certificate.subject());
    (void)X500NameText(certificate.issuer());
    uint8_t usage = 0;
    (void)certificate.intendedKeyUsage(&usage);
  }
  return 0;
}
