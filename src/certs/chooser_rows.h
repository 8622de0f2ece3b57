// The rows of the certificate chooser, built the same way wherever the
// user picks one of several certificates (signer selection, the PFX and
// mobile exports).
#ifndef QUORVANT_CERTS_CHOOSER_ROWS_H_
#define QUORVANT_CERTS_CHOOSER_ROWS_H_

#include <vector>

#include "certs/certificate_info.h"
#include "dialogs/dialog_host.h"

namespace quorvant {

// One row: the subject common name (or the whole subject when it has
// none), the serial in upper-case hex, NotBefore and NotAfter as
// "%04d/%02d/%02d" in local time, the issuer common name (or the whole
// issuer), and the encoding that "檢視憑證" writes out.
CertificateRow ChooserRow(const CertificateInfo& certificate);

// One row per certificate, in the caller's order.
std::vector<CertificateRow> ChooserRows(const std::vector<CertificateInfo>& certificates);

}  // namespace quorvant

#endif  // QUORVANT_CERTS_CHOOSER_ROWS_H_
