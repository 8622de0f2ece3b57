#include "sign/signed_data.h"

#include <algorithm>
#include <cstdio>

#include "base/result_codes.h"
#include "encoding/der_writer.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/certificates/certificate.h"
#include "sign/hashing.h"

namespace quorvant {
namespace {

using Bytes = std::vector<uint8_t>;

// Content octets of the object identifiers in use.
constexpr uint8_t kOidData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
constexpr uint8_t kOidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr uint8_t kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr uint8_t kOidMd5WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04};
constexpr uint8_t kOidRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr uint8_t kOidContentType[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03};
constexpr uint8_t kOidMessageDigest[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
constexpr uint8_t kOidSigningTime[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x05};

constexpr uint8_t kTagInteger = der::kInteger;
constexpr uint8_t kTagOctetString = der::kOctetString;
constexpr uint8_t kTagNull = der::kNull;
constexpr uint8_t kTagOid = der::kOid;
constexpr uint8_t kTagUtcTime = der::kUtcTime;
constexpr uint8_t kTagGeneralizedTime = der::kGeneralizedTime;
constexpr uint8_t kTagSequence = der::kSequence;
constexpr uint8_t kTagSet = der::kSet;
constexpr uint8_t kTagContext0 = der::kContext0;

using der::AppendLength;
using der::Constructed;
Bytes Tlv(uint8_t tag, std::span<const uint8_t> content) { return der::Element(tag, content); }

Bytes Concatenated(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes AlgorithmWithNull(std::span<const uint8_t> oid) {
  const uint8_t null[] = {kTagNull, 0x00};
  return Constructed(kTagSequence, {Tlv(kTagOid, oid), null});
}

Bytes Attribute(std::span<const uint8_t> oid, std::span<const uint8_t> value) {
  return Constructed(kTagSequence, {Tlv(kTagOid, oid), Tlv(kTagSet, value)});
}

// X.690, 11.6: the elements of a SET OF in the order of their encodings,
// compared as octet strings with the shorter padded by zeros at its end.
void SortSetOf(std::vector<Bytes>& elements) {
  std::sort(elements.begin(), elements.end(), [](const Bytes& a, const Bytes& b) {
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const uint8_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
      if (x != y) return x < y;
    }
    return false;
  });
}

ByteBuffer Digest(SignedDataDigest digest, std::span<const uint8_t> data) {
  MessageDigest engine(digest == SignedDataDigest::kMd5WithRsa ? HashAlgorithm::kMd5
                                                               : HashAlgorithm::kSha1);
  engine.update(data.data(), data.size());
  if (!engine.finish()) return ByteBuffer();
  return engine.output();
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

std::optional<std::vector<uint8_t>> EncodeSigningTime(int64_t unixSeconds) {
  const int64_t seconds = ((unixSeconds % 86400) + 86400) % 86400;
  const int64_t days = (unixSeconds - seconds) / 86400;
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  if (year < 1 || year > 9999) return std::nullopt;
  const int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
            second = static_cast<int>(seconds % 60);
  char text[20];
  const bool utc = year >= 1950 && year < 2050;
  const int length =
      utc ? std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02dZ", static_cast<int>(year % 100),
                          month, day, hour, minute, second)
          : std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", static_cast<int>(year),
                          month, day, hour, minute, second);
  const auto* octets = reinterpret_cast<const uint8_t*>(text);
  return Tlv(utc ? kTagUtcTime : kTagGeneralizedTime,
             std::span<const uint8_t>(octets, static_cast<size_t>(length)));
}

Result<ByteBuffer> EncodeSignedData(const SignedDataRequest& request, const DigestSigner& sign) {
  Certificate signer;
  if (Certificate::Parse(request.signerCertificate, &signer) != 0) {
    return Outcome::Fail(rc::kBadCertificate);
  }
  const bool md5 = request.digest == SignedDataDigest::kMd5WithRsa;
  const uint32_t hashAlgId = md5 ? kCalgMd5 : kCalgSha1;
  const Bytes digestAlgorithm =
      AlgorithmWithNull(md5 ? std::span<const uint8_t>(kOidMd5WithRsa)
                            : std::span<const uint8_t>(kOidSha1));

  const ByteBuffer contentDigest = Digest(request.digest, request.content);
  if (contentDigest.empty()) return Outcome::Fail(rc::kAllocationFailed);

  // What the signature covers, and the attributes that say so.
  Bytes authenticatedAttributes;
  ByteBuffer signedDigest;
  if (request.signingTime) {
    const auto time = EncodeSigningTime(*request.signingTime);
    if (!time) return Outcome::Fail(rc::kSignFailed);
    std::vector<Bytes> attributes = {
        Attribute(kOidContentType, Tlv(kTagOid, kOidData)),
        Attribute(kOidSigningTime, *time),
        Attribute(kOidMessageDigest, Tlv(kTagOctetString, contentDigest.bytes())),
    };
    SortSetOf(attributes);
    // RFC 2315, 9.3: the digest is of the attributes' complete DER encoding
    // with the SET OF tag, not of the [0] IMPLICIT form they take in the
    // signer information.
    Bytes asSet = Tlv(kTagSet, Concatenated(attributes));
    signedDigest = Digest(request.digest, asSet);
    asSet[0] = kTagContext0;
    authenticatedAttributes = std::move(asSet);
  } else {
    signedDigest = contentDigest;
  }
  if (signedDigest.empty()) return Outcome::Fail(rc::kAllocationFailed);

  ByteBuffer signature;
  QUORVANT_RETURN_IF_FAILED(sign(hashAlgId, signedDigest.bytes(), &signature));

  const uint8_t version[] = {kTagInteger, 0x01, 0x01};
  const Bytes issuerAndSerial = Constructed(
      kTagSequence, {signer.issuer(), Tlv(kTagInteger, signer.serialNumber())});
  const Bytes signerInfo =
      Constructed(kTagSequence, {version, issuerAndSerial, digestAlgorithm,
                                 authenticatedAttributes, AlgorithmWithNull(kOidRsaEncryption),
                                 Tlv(kTagOctetString, signature.bytes())});

  const Bytes contentInfo =
      request.detached
          ? Constructed(kTagSequence, {Tlv(kTagOid, kOidData)})
          : Constructed(kTagSequence,
                        {Tlv(kTagOid, kOidData),
                         Constructed(kTagContext0, {Tlv(kTagOctetString, request.content)})});

  Bytes certificates;
  if (!request.certificates.empty()) {
    size_t total = 0;
    for (const auto& c : request.certificates) total += c.size();
    certificates.push_back(kTagContext0);
    AppendLength(certificates, total);
    for (const auto& c : request.certificates) certificates.insert(certificates.end(), c.begin(), c.end());
  }

  const Bytes signedData = Constructed(
      kTagSequence, {version, Tlv(kTagSet, digestAlgorithm), contentInfo, certificates,
                     Tlv(kTagSet, signerInfo)});
  const Bytes message = Constructed(
      kTagSequence, {Tlv(kTagOid, kOidSignedData), Tlv(kTagContext0, signedData)});

  ByteBuffer out;
  if (message.size() > static_cast<size_t>(INT32_MAX - 2) ||
      !out.append(message.data(), static_cast<int32_t>(message.size()))) {
    return Outcome::Fail(rc::kAllocationFailed);
  }
  return out;
}

}  // namespace quorvant
