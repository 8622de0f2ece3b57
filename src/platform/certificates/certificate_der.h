// A small reader of DER (ITU-T X.690) elements, enough for the certificate
// fields the platform layer exposes. It accepts the definite-length BER the
// platform's own decoder accepts (long-form lengths that are not minimal,
// for instance) and reports malformed input with the platform's ASN.1
// error numbers rather than failing in some other way.
#ifndef QUORVANT_PLATFORM_CERTIFICATE_DER_H_
#define QUORVANT_PLATFORM_CERTIFICATE_DER_H_

#include <cstdint>
#include <span>

namespace quorvant::der {

// Identifier octets of the universal types in use.
inline constexpr uint8_t kBoolean = 0x01;
inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kUtf8String = 0x0C;
inline constexpr uint8_t kNumericString = 0x12;
inline constexpr uint8_t kPrintableString = 0x13;
inline constexpr uint8_t kT61String = 0x14;
inline constexpr uint8_t kVideotexString = 0x15;
inline constexpr uint8_t kIa5String = 0x16;
inline constexpr uint8_t kUtcTime = 0x17;
inline constexpr uint8_t kGeneralizedTime = 0x18;
inline constexpr uint8_t kGraphicString = 0x19;
inline constexpr uint8_t kVisibleString = 0x1A;
inline constexpr uint8_t kGeneralString = 0x1B;
inline constexpr uint8_t kUniversalString = 0x1C;
inline constexpr uint8_t kBmpString = 0x1E;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;

// [n] EXPLICIT (constructed) and [n] IMPLICIT primitive context tags.
constexpr uint8_t ContextConstructed(int n) { return static_cast<uint8_t>(0xA0 | n); }
constexpr uint8_t ContextPrimitive(int n) { return static_cast<uint8_t>(0x80 | n); }

struct Element {
  // The first identifier octet. A tag number above 30 (the multi-octet form)
  // keeps only this octet, which no caller here expects anyway.
  uint8_t tag = 0;
  std::span<const uint8_t> content;
  // Identifier, length and content octets.
  std::span<const uint8_t> encoded;
};

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : rest_(data) {}

  bool atEnd() const { return rest_.empty(); }
  // The identifier octet of the next element; false at the end.
  bool peekTag(uint8_t* tag) const;
  // Reads the next element. False at the end of the data or for a malformed
  // element; error() then holds CRYPT_E_ASN1_EOD (data cut short) or
  // CRYPT_E_ASN1_CORRUPT (an indefinite or oversized length).
  [[nodiscard]] bool read(Element* out);
  // Reads the next element when its identifier octet is `tag`; a different
  // element is left unread and gives CRYPT_E_ASN1_BADTAG.
  [[nodiscard]] bool read(uint8_t tag, Element* out);
  // Reads the next element only when it carries `tag`; false (and no error)
  // otherwise.
  [[nodiscard]] bool readOptional(uint8_t tag, Element* out);

  uint32_t error() const { return error_; }

 private:
  bool fail(uint32_t error);

  std::span<const uint8_t> rest_;
  uint32_t error_ = 0;
};

}  // namespace quorvant::der

#endif  // QUORVANT_PLATFORM_CERTIFICATE_DER_H_
