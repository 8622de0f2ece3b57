// CertificateInfo: the one way every operation reads the fields of an X.509
// certificate, as the texts the component shows.
//
// Texts are narrow, in the component's code page (code_page.h); characters
// the code page lacks read as "?". Names are cut at 511 bytes and common
// names at 99 (the component's buffers of 512 and 100), never inside a
// double-byte character. Every getter of an object that holds no parsed
// certificate answers the empty text (0 for numbers, false for tests).
#ifndef QUORVANT_CERTS_CERTIFICATE_INFO_H_
#define QUORVANT_CERTS_CERTIFICATE_INFO_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "encoding/byte_buffer.h"
#include "encoding/time_forms.h"
#include "platform/stores/cert_store.h"
#include "platform/certificates/certificate.h"

namespace quorvant {

inline constexpr size_t kNameTextLimit = 511;
inline constexpr size_t kCommonNameTextLimit = 99;

class CertificateInfo {
 public:
  // From DER bytes: the bytes are copied, then parsed; the parse error is
  // kept. Zero bytes give an object that is not valid (parse error
  // CRYPT_E_ASN1_EOD).
  explicit CertificateInfo(std::span<const uint8_t> der);
  explicit CertificateInfo(const ByteBuffer& der) : CertificateInfo(der.bytes()) {}
  // From a certificate of a store: its encoding is copied and the context
  // borrowed, not owned.
  explicit CertificateInfo(const CertContext& context);

  // A parsed certificate is held.
  bool valid() const { return certificate_.has_value(); }
  // The platform's error number of the parse; 0 on success.
  uint32_t parseError() const { return parseError_; }
  // Whether the parsed certificate belongs to this object (made from bytes)
  // rather than to a store's context.
  bool owned() const { return valid() && !context_.valid(); }

  // The copy of the encoding.
  const ByteBuffer& encoding() const { return encoding_; }
  // The parsed certificate and the borrowed context (null / empty when
  // there is none).
  const Certificate* certificate() const { return certificate_ ? &*certificate_ : nullptr; }
  const CertContext& context() const { return context_; }

  // The first octet of the key-usage extension's bits; 0 when absent.
  int32_t keyUsage() const { return keyUsage_; }

  // Subject and issuer in the X.500 string form (certificate_name.h), at
  // most 511 bytes.
  std::string subject() const;
  std::string issuer() const;
  // The first commonName (2.5.4.3) of the subject / issuer, at most 99
  // bytes; empty when there is none.
  std::string subjectCommonName() const;
  std::string issuerCommonName() const;
  // Every content octet of the serial number INTEGER in upper-case hex,
  // most significant first (a leading 00 included), whatever its length.
  std::string serial() const;
  // SHA-1 of the encoding as 40 upper-case hex digits.
  std::string thumbprint() const;
  // Validity in local time, in the given form (time_forms.h).
  std::string notBefore(TimeForm form = TimeForm::kCompact) const;
  std::string notAfter(TimeForm form = TimeForm::kCompact) const;
  // Base64 of the encoding in one line.
  std::string base64() const;

  // An authority certificate: subject text equal to issuer text, or key
  // usage with keyCertSign (0x04) or cRLSign (0x02).
  bool IsCaCertificate() const;
  // CertVerifyTimeValidity at `unixSeconds`: -1 not yet valid, 0 valid,
  // 1 expired. 0 when not valid.
  int verifyTimeValidity(int64_t unixSeconds) const;

 private:
  void parse(std::span<const uint8_t> der);

  ByteBuffer encoding_;
  int32_t keyUsage_ = 0;
  uint32_t parseError_ = 0;
  CertContext context_;
  std::optional<Certificate> certificate_;
};

// `wide` in the component's code page, cut to at most `limit` bytes at a
// character boundary.
std::string NarrowTextWithin(std::u16string_view wide, size_t limit);

}  // namespace quorvant

#endif  // QUORVANT_CERTS_CERTIFICATE_INFO_H_
