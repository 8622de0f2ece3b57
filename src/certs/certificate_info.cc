#include "certs/certificate_info.h"

#include <new>

#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "encoding/hex.h"
#include "base/win32_errors.h"
#include "platform/certificates/certificate_name.h"

namespace quorvant {
namespace {

constexpr std::string_view kCommonNameOid = "2.5.4.3";

std::string HexText(std::span<const uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX / 2)) return std::string();
  ByteBuffer hex;
  if (!HexEncode(bytes.data(), static_cast<int32_t>(bytes.size()), hex)) return std::string();
  return std::string(hex.view());
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::string NarrowTextWithin(std::u16string_view wide, size_t limit) {
  std::string narrow;
  if (!NarrowFromWide(wide, &narrow)) return std::string();
  if (narrow.size() <= limit) return narrow;
  // Too long: add whole characters while they fit. The code pages in use
  // are stateless, so a character's bytes do not depend on its neighbours.
  narrow.clear();
  std::string piece;
  for (size_t i = 0; i < wide.size();) {
    const size_t units = IsHighSurrogate(wide[i]) && i + 1 < wide.size() ? 2 : 1;
    if (!NarrowFromWide(wide.substr(i, units), &piece)) return std::string();
    if (narrow.size() + piece.size() > limit) break;
    narrow += piece;
    i += units;
  }
  return narrow;
}

CertificateInfo::CertificateInfo(std::span<const uint8_t> der) { parse(der); }

CertificateInfo::CertificateInfo(const CertContext& context) {
  parse(context.encoded());
  if (valid()) context_ = context;
}

void CertificateInfo::parse(std::span<const uint8_t> der) {
  try {
    if (der.empty()) {
      parseError_ = win32::kCryptEAsn1Eod;
      return;
    }
    if (der.size() > static_cast<size_t>(INT32_MAX - 2) ||
        !encoding_.append(der.data(), static_cast<int32_t>(der.size()))) {
      parseError_ = win32::HresultFromWin32(win32::kErrorOutofmemory);
      return;
    }
    Certificate certificate;
    parseError_ = Certificate::Parse(encoding_.bytes(), &certificate);
    if (parseError_ != 0) return;
    uint8_t usage = 0;
    if (certificate.intendedKeyUsage(&usage)) keyUsage_ = usage;
    certificate_ = std::move(certificate);
  } catch (const std::bad_alloc&) {
    certificate_.reset();
    parseError_ = win32::HresultFromWin32(win32::kErrorOutofmemory);
  }
}

std::string CertificateInfo::subject() const {
  if (!certificate_) return std::string();
  return NarrowTextWithin(X500NameText(certificate_->subject()), kNameTextLimit);
}

std::string CertificateInfo::issuer() const {
  if (!certificate_) return std::string();
  return NarrowTextWithin(X500NameText(certificate_->issuer()), kNameTextLimit);
}

std::string CertificateInfo::subjectCommonName() const {
  if (!certificate_) return std::string();
  return NarrowTextWithin(
      CertificateNameAttribute(*certificate_, NameSide::kSubject, kCommonNameOid),
      kCommonNameTextLimit);
}

std::string CertificateInfo::issuerCommonName() const {
  if (!certificate_) return std::string();
  return NarrowTextWithin(
      CertificateNameAttribute(*certificate_, NameSide::kIssuer, kCommonNameOid),
      kCommonNameTextLimit);
}

std::string CertificateInfo::serial() const {
  return certificate_ ? HexText(certificate_->serialNumber()) : std::string();
}

std::string CertificateInfo::thumbprint() const {
  if (!certificate_) return std::string();
  const Sha1Hash hash = Sha1Of(encoding_.bytes());
  return HexText(hash);
}

std::string CertificateInfo::notBefore(TimeForm form) const {
  return certificate_ ? CertificateTimeText(certificate_->notBefore(), form) : std::string();
}

std::string CertificateInfo::notAfter(TimeForm form) const {
  return certificate_ ? CertificateTimeText(certificate_->notAfter(), form) : std::string();
}

std::string CertificateInfo::base64() const {
  if (!certificate_) return std::string();
  ByteBuffer text;
  if (!Base64Encode(encoding_.data(), encoding_.size(), text)) return std::string();
  return std::string(text.view());
}

bool CertificateInfo::IsCaCertificate() const {
  if (!certificate_) return false;
  if ((keyUsage_ & (kKeyUsageKeyCertSign | kKeyUsageCrlSign)) != 0) return true;
  return subject() == issuer();
}

int CertificateInfo::verifyTimeValidity(int64_t unixSeconds) const {
  return certificate_ ? certificate_->verifyTimeValidity(unixSeconds) : 0;
}

}  // namespace quorvant
