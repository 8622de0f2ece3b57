#include "enroll/reply_reader.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "platform/certificates/certificate.h"

namespace quorvant {

Result<ReplyContents> ReadReply(std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxReplyBytes) {
    return Outcome::Fail(rc::kBadCertificate, win32::kCryptEBadLen);
  }
  OpensslErrorScope errors;
  ReplyContents contents;
  const unsigned char* p = bytes.data();
  OsslPtr<PKCS7> message(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size())));
  if (!message) {
    // Not a message: the reply is the user's certificate itself, kept as it
    // came unless only a BER reader takes it (indefinite lengths), in which
    // case its DER re-encoding stands in.
    Certificate parsed;
    if (Certificate::Parse(bytes, &parsed) != 0) {
      const unsigned char* q = bytes.data();
      OsslPtr<X509> certificate(d2i_X509(nullptr, &q, static_cast<long>(bytes.size())));
      unsigned char* der = nullptr;
      const int length = certificate && q == bytes.data() + bytes.size()
                             ? i2d_X509(certificate.get(), &der)
                             : 0;
      if (length > 0) {
        contents.certificates.emplace_back(der, der + length);
        OPENSSL_free(der);
        return contents;
      }
    }
    contents.certificates.emplace_back(bytes.begin(), bytes.end());
    return contents;
  }
  contents.message = true;
  if (!PKCS7_type_is_signed(message.get()) || message->d.sign == nullptr) {
    return Outcome::Fail(rc::kBadCertificate, win32::kCryptEInvalidMsgType);
  }
  STACK_OF(X509)* certificates = message->d.sign->cert;
  const int count = certificates == nullptr ? 0 : sk_X509_num(certificates);
  if (static_cast<size_t>(count) > kMaxReplyCertificates) {
    return Outcome::Fail(rc::kBadCertificate, win32::kCryptEBadLen);
  }
  for (int i = 0; i < count; ++i) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(sk_X509_value(certificates, i), &der);
    // A certificate that cannot be had again is skipped, as a fetch that
    // fails is.
    if (length <= 0) continue;
    contents.certificates.emplace_back(der, der + length);
    OPENSSL_free(der);
  }
  return contents;
}

}  // namespace quorvant
