// CertificateFilter: picks certificates out of a store by key usage, filter
// text, validity and date preference.
#ifndef QUORVANT_PFX_CERTIFICATE_FILTER_H_
#define QUORVANT_PFX_CERTIFICATE_FILTER_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/stores/cert_store.h"

namespace quorvant {

struct CertificateFilterRequest {
  // Alternatives split at "//", each a list of S_ (subject) and I_ (issuer)
  // entries; narrow text in the component's code page.
  std::string_view filterText;
  // Only the low byte is read: 0x03 mode (2 keeps the one preferred by date),
  // 0x04 test validity, 0x08 match with Match-filter, 0x20/0x40/0x80 the
  // date preference.
  int32_t flags = 0;
  // Key-usage bits every certificate must have; 0 or less: none.
  int32_t keyUsage = 0;
  // The instant validity is tested against (Unix seconds): the caller's
  // comparison date, or now.
  int64_t validityTime = 0;
};

// On an open store. Authority certificates are skipped. Returns 0 with one
// or more certificates in *out, or 5010 (none accepted), 5011 (the first
// rejection was an expired certificate), 5012 (not yet valid) or 5017
// (lacking the key usage); *lastError holds the platform's error number of
// the reason. *out is emptied first.
int32_t FilterCertificates(const CertStore& store, const CertificateFilterRequest& request,
                           std::vector<CertContext>* out, uint32_t* lastError);

// On a PFX file's store: the first accepted certificate only, no date
// preference; without one, the last rejection's code or 5010.
int32_t FilterFirstCertificate(const CertStore& store, const CertificateFilterRequest& request,
                               std::vector<CertContext>* out, uint32_t* lastError);

}  // namespace quorvant

#endif  // QUORVANT_PFX_CERTIFICATE_FILTER_H_
