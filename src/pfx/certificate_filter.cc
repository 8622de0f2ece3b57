#include "pfx/certificate_filter.h"

#include <optional>

#include "certs/certificate_info.h"
#include "encoding/time_forms.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "pfx/filter_rules.h"

namespace quorvant {
namespace {

constexpr int32_t kMode = 0x03;
constexpr int32_t kPreferByDateMode = 2;
constexpr int32_t kTestValidity = 0x04;
constexpr int32_t kMatchFilter = 0x08;

struct Alternative {
  NameEntries subject;
  NameEntries issuer;
};

std::vector<Alternative> ParseAlternatives(std::string_view filterText) {
  std::vector<Alternative> alternatives;
  for (const std::string& text : SplitFilterAlternatives(filterText)) {
    alternatives.push_back({PrefixedEntries(text, "S_"), PrefixedEntries(text, "I_")});
  }
  return alternatives;
}

bool Admitted(const CertificateInfo& info, const std::vector<Alternative>& alternatives,
              int32_t flags) {
  if (alternatives.empty()) return true;
  NameEntries subject = SplitNameEntries(info.subject());
  subject.push_back("SN=" + info.serial());
  const NameEntries issuer = SplitNameEntries(info.issuer());
  for (const Alternative& alternative : alternatives) {
    const bool match = (flags & kMatchFilter)
                           ? MatchFilter(alternative.issuer, issuer) &&
                                 MatchFilter(alternative.subject, subject)
                           : MatchCertificate(alternative.subject, subject);
    if (match) return true;
  }
  return false;
}

int32_t Filter(const CertStore& store, const CertificateFilterRequest& request,
               std::vector<CertContext>* out, uint32_t* lastError, bool firstOnly) {
  *lastError = 0;
  if (out == nullptr) return rc::kCertNotFound;
  out->clear();
  if (!store.valid()) {
    *lastError = win32::kCryptENotFound;
    return rc::kCertNotFound;
  }
  const int32_t flags = request.flags & 0xFF;
  const std::vector<Alternative> alternatives = ParseAlternatives(request.filterText);
  std::vector<CertContext> certificates;
  if (uint32_t error = store.enumerate(&certificates); error != 0) {
    *lastError = error;
    return rc::kCertNotFound;
  }

  int32_t pending = rc::kSuccess;
  // A rejection counts only while nothing has been accepted.
  auto reject = [&](int32_t code, uint32_t error) {
    if (out->empty()) {
      pending = code;
      *lastError = error;
    }
  };
  std::optional<ValidityTexts> preferred;
  for (const CertContext& certificate : certificates) {
    const CertificateInfo info(certificate);
    if (!info.valid() || info.IsCaCertificate()) continue;
    if (request.keyUsage >= 1 && (info.keyUsage() & request.keyUsage) != request.keyUsage) {
      reject(rc::kCertUsageMismatch, win32::kCertEWrongUsage);
      continue;
    }
    if (!Admitted(info, alternatives, flags)) continue;
    if (flags & kTestValidity) {
      const int validity = info.verifyTimeValidity(request.validityTime);
      if (validity != 0) {
        reject(validity > 0 ? rc::kCertExpired : rc::kCertNotYetValid, win32::kCertEExpired);
        continue;
      }
    }
    if (firstOnly) {
      out->push_back(certificate);
      *lastError = 0;
      return rc::kSuccess;
    }
    if ((flags & kMode) != kPreferByDateMode) {
      out->push_back(certificate);
      pending = rc::kSuccess;
      continue;
    }
    const ValidityTexts validity{info.notBefore(TimeForm::kDateTime),
                                 info.notAfter(TimeForm::kDateTime)};
    if (!preferred || PreferByDate(flags, validity, *preferred)) {
      out->assign(1, certificate);
      preferred = validity;
    }
    // A preferred certificate was found: an earlier rejection no longer
    // decides the result.
    pending = rc::kSuccess;
  }
  if (pending != rc::kSuccess) {
    out->clear();
    return pending;
  }
  if (out->empty()) {
    *lastError = win32::kCryptENotFound;
    return rc::kCertNotFound;
  }
  *lastError = 0;
  return rc::kSuccess;
}

}  // namespace

int32_t FilterCertificates(const CertStore& store, const CertificateFilterRequest& request,
                           std::vector<CertContext>* out, uint32_t* lastError) {
  return Filter(store, request, out, lastError, false);
}

int32_t FilterFirstCertificate(const CertStore& store, const CertificateFilterRequest& request,
                               std::vector<CertContext>* out, uint32_t* lastError) {
  return Filter(store, request, out, lastError, true);
}

}  // namespace quorvant
