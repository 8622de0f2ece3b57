#include "platform/certificates/certificate.h"

#include <openssl/evp.h>

#include <algorithm>
#include <new>

#include "base/win32_errors.h"
#include "platform/certificates/certificate_der.h"

namespace quorvant {
namespace {

// 2.5.29.15, id-ce-keyUsage.
constexpr uint8_t kKeyUsageOid[] = {0x55, 0x1D, 0x0F};

// Days from 1970-01-01 to the given proleptic Gregorian date (the civil
// calendar algorithm of H. Hinnant, valid for every int year).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads `count` decimal digits at *pos.
bool Digits(std::span<const uint8_t> text, size_t* pos, size_t count, int* out) {
  if (text.size() - *pos < count) return false;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = text[*pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *pos += count;
  *out = value;
  return true;
}

bool IsDigitAt(std::span<const uint8_t> text, size_t pos) {
  return pos < text.size() && text[pos] >= '0' && text[pos] <= '9';
}

}  // namespace

Sha1Hash Sha1Of(std::span<const uint8_t> data) {
  Sha1Hash hash{};
  unsigned int length = 0;
  // SHA-1 of a memory buffer cannot fail short of a broken library; the
  // zero hash it would leave matches no certificate.
  (void)EVP_Digest(data.data(), data.size(), hash.data(), &length, EVP_sha1(), nullptr);
  return hash;
}

std::optional<int64_t> ParseAsn1Time(uint8_t tag, std::span<const uint8_t> text) {
  size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (tag == der::kUtcTime) {
    if (!Digits(text, &pos, 2, &year)) return std::nullopt;
    year += year < 50 ? 2000 : 1900;
    if (!Digits(text, &pos, 2, &month) || !Digits(text, &pos, 2, &day) ||
        !Digits(text, &pos, 2, &hour) || !Digits(text, &pos, 2, &minute)) {
      return std::nullopt;
    }
    if (IsDigitAt(text, pos) && !Digits(text, &pos, 2, &second)) return std::nullopt;
  } else if (tag == der::kGeneralizedTime) {
    if (!Digits(text, &pos, 4, &year) || !Digits(text, &pos, 2, &month) ||
        !Digits(text, &pos, 2, &day) || !Digits(text, &pos, 2, &hour)) {
      return std::nullopt;
    }
    if (IsDigitAt(text, pos)) {
      if (!Digits(text, &pos, 2, &minute)) return std::nullopt;
      if (IsDigitAt(text, pos) && !Digits(text, &pos, 2, &second)) return std::nullopt;
    }
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
      ++pos;
      if (!IsDigitAt(text, pos)) return std::nullopt;
      while (IsDigitAt(text, pos)) ++pos;
    }
  } else {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  int64_t offsetSeconds = 0;
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    const int sign = text[pos++] == '+' ? 1 : -1;
    int offsetHours = 0, offsetMinutes = 0;
    if (!Digits(text, &pos, 2, &offsetHours) || !Digits(text, &pos, 2, &offsetMinutes) ||
        offsetHours > 23 || offsetMinutes > 59) {
      return std::nullopt;
    }
    offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
  } else {
    // A time without a zone is local to some unknown place.
    return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
         offsetSeconds;
}

Certificate::Range Certificate::rangeOf(std::span<const uint8_t> part,
                                        std::span<const uint8_t> whole) const {
  return Range{static_cast<size_t>(part.data() - whole.data()), part.size()};
}

uint32_t Certificate::Parse(std::span<const uint8_t> der, Certificate* out) {
  auto fail = [](uint32_t code) { return code != 0 ? code : win32::kCryptEAsn1Corrupt; };
  try {
    Certificate c;
    c.der_.assign(der.begin(), der.end());
    const std::span<const uint8_t> whole(c.der_);

    // Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm,
    //                            signatureValue BIT STRING }
    der::Reader top(whole);
    der::Element certificate;
    if (!top.read(der::kSequence, &certificate)) return fail(top.error());
    if (!top.atEnd()) return fail(win32::kCryptEAsn1Corrupt);
    der::Reader outer(certificate.content);
    der::Element tbs, signatureAlgorithm, signature;
    if (!outer.read(der::kSequence, &tbs) || !outer.read(der::kSequence, &signatureAlgorithm) ||
        !outer.read(der::kBitString, &signature)) {
      return fail(outer.error());
    }
    if (!outer.atEnd()) return fail(win32::kCryptEAsn1Corrupt);

    der::Reader fields(tbs.content);
    der::Element version;
    if (fields.readOptional(der::ContextConstructed(0), &version)) {
      der::Reader v(version.content);
      der::Element number;
      if (!v.read(der::kInteger, &number)) return fail(v.error());
      if (!v.atEnd() || number.content.empty()) return fail(win32::kCryptEAsn1Corrupt);
    } else if (fields.error() != 0) {
      return fail(fields.error());
    }
    der::Element serial, algorithm, issuer, validity, subject, publicKeyInfo;
    if (!fields.read(der::kInteger, &serial)) return fail(fields.error());
    if (serial.content.empty()) return fail(win32::kCryptEAsn1Corrupt);
    if (!fields.read(der::kSequence, &algorithm) || !fields.read(der::kSequence, &issuer) ||
        !fields.read(der::kSequence, &validity) || !fields.read(der::kSequence, &subject) ||
        !fields.read(der::kSequence, &publicKeyInfo)) {
      return fail(fields.error());
    }

    der::Reader times(validity.content);
    der::Element notBefore, notAfter;
    if (!times.read(&notBefore) || !times.read(&notAfter)) return fail(times.error());
    if (!times.atEnd()) return fail(win32::kCryptEAsn1Corrupt);
    const auto before = ParseAsn1Time(notBefore.tag, notBefore.content);
    const auto after = ParseAsn1Time(notAfter.tag, notAfter.content);
    if (!before || !after) return fail(win32::kCryptEAsn1Corrupt);

    // issuerUniqueID [1] and subjectUniqueID [2], primitive or constructed.
    der::Element skipped;
    for (int n = 1; n <= 2; ++n) {
      if (!fields.readOptional(der::ContextPrimitive(n), &skipped) && fields.error() == 0) {
        (void)fields.readOptional(der::ContextConstructed(n), &skipped);
      }
      if (fields.error() != 0) return fail(fields.error());
    }

    der::Element extensionsTag;
    if (fields.readOptional(der::ContextConstructed(3), &extensionsTag)) {
      der::Reader wrapper(extensionsTag.content);
      der::Element list;
      if (!wrapper.read(der::kSequence, &list)) return fail(wrapper.error());
      if (!wrapper.atEnd()) return fail(win32::kCryptEAsn1Corrupt);
      der::Reader items(list.content);
      while (!items.atEnd()) {
        // Extension ::= SEQUENCE { extnID, critical BOOLEAN DEFAULT FALSE,
        //                          extnValue OCTET STRING }
        der::Element item, oid, critical, value;
        if (!items.read(der::kSequence, &item)) return fail(items.error());
        der::Reader parts(item.content);
        if (!parts.read(der::kOid, &oid)) return fail(parts.error());
        if (!parts.readOptional(der::kBoolean, &critical) && parts.error() != 0) {
          return fail(parts.error());
        }
        if (!parts.read(der::kOctetString, &value)) return fail(parts.error());
        if (!parts.atEnd()) return fail(win32::kCryptEAsn1Corrupt);
        c.extensions_.push_back(Extension{c.rangeOf(oid.content, whole),
                                          c.rangeOf(value.content, whole)});
      }
    } else if (fields.error() != 0) {
      return fail(fields.error());
    }
    if (!fields.atEnd()) return fail(win32::kCryptEAsn1Corrupt);

    c.serial_ = c.rangeOf(serial.content, whole);
    c.issuer_ = c.rangeOf(issuer.encoded, whole);
    c.subject_ = c.rangeOf(subject.encoded, whole);
    c.publicKeyInfo_ = c.rangeOf(publicKeyInfo.encoded, whole);
    c.notBefore_ = *before;
    c.notAfter_ = *after;
    *out = std::move(c);
    return 0;
  } catch (const std::bad_alloc&) {
    return fail(win32::HresultFromWin32(win32::kErrorOutofmemory));
  }
}

std::optional<std::span<const uint8_t>> Certificate::extension(
    std::span<const uint8_t> oid) const {
  for (const Extension& e : extensions_) {
    const auto candidate = at(e.oid);
    if (candidate.size() == oid.size() &&
        std::equal(candidate.begin(), candidate.end(), oid.begin())) {
      return at(e.value);
    }
  }
  return std::nullopt;
}

bool Certificate::intendedKeyUsage(uint8_t* firstByte) const {
  *firstByte = 0;
  const auto value = extension(kKeyUsageOid);
  if (!value) return false;
  // KeyUsage ::= BIT STRING: one octet of unused-bit count, then the bits.
  der::Reader reader(*value);
  der::Element bits;
  if (!reader.read(der::kBitString, &bits) || !reader.atEnd() || bits.content.empty() ||
      bits.content[0] > 7) {
    return false;
  }
  if (bits.content.size() < 2) return true;
  uint8_t first = bits.content[1];
  // Unused bits of a last octet carry nothing, whatever the encoder left.
  if (bits.content.size() == 2) first &= static_cast<uint8_t>(0xFF << bits.content[0]);
  *firstByte = first;
  return true;
}

int Certificate::verifyTimeValidity(int64_t unixSeconds) const {
  if (unixSeconds < notBefore_) return -1;
  if (unixSeconds > notAfter_) return 1;
  return 0;
}

}  // namespace quorvant
