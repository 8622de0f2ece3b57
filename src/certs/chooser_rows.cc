#include "certs/chooser_rows.h"

namespace quorvant {

CertificateRow ChooserRow(const CertificateInfo& certificate) {
  CertificateRow row;
  row.subject = certificate.subjectCommonName();
  if (row.subject.empty()) row.subject = certificate.subject();
  row.serial = certificate.serial();
  row.notBefore = certificate.notBefore(TimeForm::kDate);
  row.notAfter = certificate.notAfter(TimeForm::kDate);
  row.issuer = certificate.issuerCommonName();
  if (row.issuer.empty()) row.issuer = certificate.issuer();
  const auto der = certificate.encoding().bytes();
  row.der.assign(der.begin(), der.end());
  return row;
}

std::vector<CertificateRow> ChooserRows(const std::vector<CertificateInfo>& certificates) {
  std::vector<CertificateRow> rows;
  rows.reserve(certificates.size());
  for (const CertificateInfo& certificate : certificates) rows.push_back(ChooserRow(certificate));
  return rows;
}

}  // namespace quorvant
