// An X.509 certificate (RFC 5280 section 4.1) as the platform's certificate
// context holds it: the encoded bytes plus the located fields. Names and
// extension values stay encoded until someone asks for them, so a
// certificate whose name uses a string type some decoder dislikes still
// parses, as it does on the platform.
#ifndef QUORVANT_PLATFORM_CERTIFICATE_H_
#define QUORVANT_PLATFORM_CERTIFICATE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvant {

using Sha1Hash = std::array<uint8_t, 20>;

// SHA-1 (FIPS 180-4) of `data`; the certificate's thumbprint and the key by
// which stores recognise equal certificates.
Sha1Hash Sha1Of(std::span<const uint8_t> data);

// Key-usage bits of the first octet (RFC 5280 section 4.2.1.3).
inline constexpr uint8_t kKeyUsageDigitalSignature = 0x80;
inline constexpr uint8_t kKeyUsageNonRepudiation = 0x40;
inline constexpr uint8_t kKeyUsageKeyEncipherment = 0x20;
inline constexpr uint8_t kKeyUsageDataEncipherment = 0x10;
inline constexpr uint8_t kKeyUsageKeyAgreement = 0x08;
inline constexpr uint8_t kKeyUsageKeyCertSign = 0x04;
inline constexpr uint8_t kKeyUsageCrlSign = 0x02;
inline constexpr uint8_t kKeyUsageEncipherOnly = 0x01;

class Certificate {
 public:
  // An empty certificate; only Parse() makes a usable one.
  Certificate() = default;

  // CertCreateCertificateContext: checks the structure of `der` and locates
  // its fields. Returns 0, or a CRYPT_E_ASN1_* number when the bytes are not
  // one certificate (bytes after it included), leaving *out unchanged.
  [[nodiscard]] static uint32_t Parse(std::span<const uint8_t> der, Certificate* out);

  std::span<const uint8_t> encoded() const { return der_; }
  // The content octets of the serial number INTEGER in encoded order, most
  // significant first, every octet kept (a leading 00 included).
  std::span<const uint8_t> serialNumber() const { return at(serial_); }
  // The encoded issuer and subject Names.
  std::span<const uint8_t> issuer() const { return at(issuer_); }
  std::span<const uint8_t> subject() const { return at(subject_); }
  std::span<const uint8_t> subjectPublicKeyInfo() const { return at(publicKeyInfo_); }
  // Validity in seconds since 1970-01-01T00:00:00Z.
  int64_t notBefore() const { return notBefore_; }
  int64_t notAfter() const { return notAfter_; }

  // The extnValue octets of the first extension whose OID has the content
  // octets `oid`; nothing when the certificate has no such extension.
  std::optional<std::span<const uint8_t>> extension(std::span<const uint8_t> oid) const;

  // CertGetIntendedKeyUsage asked for one byte: the first octet of the
  // key-usage extension's bits. False (and 0) when there is no such
  // extension or it does not decode.
  bool intendedKeyUsage(uint8_t* firstByte) const;

  // CertVerifyTimeValidity: -1 when `unixSeconds` is before notBefore, 1
  // when after notAfter, 0 within the validity period (both ends included).
  int verifyTimeValidity(int64_t unixSeconds) const;

 private:
  struct Range {
    size_t offset = 0;
    size_t length = 0;
  };
  struct Extension {
    Range oid;
    Range value;
  };

  std::span<const uint8_t> at(Range r) const {
    return std::span<const uint8_t>(der_).subspan(r.offset, r.length);
  }
  Range rangeOf(std::span<const uint8_t> part, std::span<const uint8_t> whole) const;

  std::vector<uint8_t> der_;
  Range serial_;
  Range issuer_;
  Range subject_;
  Range publicKeyInfo_;
  int64_t notBefore_ = 0;
  int64_t notAfter_ = 0;
  std::vector<Extension> extensions_;
};

// An ASN.1 UTCTime or GeneralizedTime element's content as seconds since
// 1970-01-01T00:00:00Z. UTCTime years 50-99 are 1950-1999 and 00-49 are
// 2000-2049 (RFC 5280 section 4.1.2.5.1). Seconds may be missing; a
// fraction is dropped; the zone is Z or a +hhmm/-hhmm offset.
std::optional<int64_t> ParseAsn1Time(uint8_t tag, std::span<const uint8_t> content);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CERTIFICATE_H_
