// Certificate fields: the GetCert* getters over the current certificate
// (signerCertBytes) and the GetIECert* operations over a snapshot of the
// personal store "MY", addressed from 1.
//
// Result codes differ from the usual protocol, as the interface has always
// had them: the GetCert* getters set errorCode to 0 and never look at
// protected mode (GetCertB64 touches no code at all); the GetIECert*
// getters leave both codes as the previous operation left them unless they
// refuse in protected mode; GetIECertCount and DeleteIECert refuse in
// protected mode first and then set errorCode only. capiErrorCode receives
// the platform's error number whenever the store fails them.
#include <algorithm>
#include <memory>

#include "certs/certificate_info.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "base/result_codes.h"
#include "engine/security_engine.h"
#include "base/win32_errors.h"
#include "platform/stores/cert_store.h"

namespace quorvant {
namespace {

constexpr char kPersonalStore[] = "MY";

uint32_t OpenPersonalStore(const std::shared_ptr<CertificateStores>& stores, CertStore* out) {
  if (!stores) return win32::kErrorFileNotFound;
  return stores->openSystemStore(kPersonalStore, out);
}

// The entry of the snapshot at `index` (from 1); null outside the list.
const ByteBuffer* Entry(const std::vector<ByteBuffer>& list, int32_t index) {
  if (list.empty() || index < 1 || static_cast<size_t>(index) > list.size()) return nullptr;
  return &list[static_cast<size_t>(index) - 1];
}

template <typename Field>
Text EntryText(const std::vector<ByteBuffer>& list, int32_t index, Field field) {
  const ByteBuffer* entry = Entry(list, index);
  if (entry == nullptr) return Text();
  const CertificateInfo info(*entry);
  return info.valid() ? ToInterfaceText(field(info)) : Text();
}

}  // namespace

// --- The current certificate ---------------------------------------------------

Text SecurityEngine::GetCertB64() {
  ByteBuffer text;
  if (!Base64Encode(signerCertBytes.data(), signerCertBytes.size(), text)) return Text();
  return ToInterfaceText(text.view());
}

Text SecurityEngine::GetCertSubject() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).subject());
}

Text SecurityEngine::GetCertSubjectCN() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).subjectCommonName());
}

Text SecurityEngine::GetCertIssuer() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).issuer());
}

Text SecurityEngine::GetCertSerial() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).serial());
}

Text SecurityEngine::GetCertNotBefore() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).notBefore(TimeForm::kCompact));
}

Text SecurityEngine::GetCertNotAfter() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).notAfter(TimeForm::kCompact));
}

Text SecurityEngine::GetCertFinger() {
  errorCode = 0;
  return ToInterfaceText(CertificateInfo(signerCertBytes).thumbprint());
}

int32_t SecurityEngine::GetCertKeyUsage() {
  errorCode = 0;
  return CertificateInfo(signerCertBytes).keyUsage();
}

// --- The personal store ----------------------------------------------------------

int32_t SecurityEngine::GetIECertCount() {
  if (refuseInProtectedMode()) return 0;
  ieCertList.clear();
  errorCode = 0;
  // A store that cannot be opened or read counts as empty; the code stays 0.
  CertStore store;
  std::vector<CertContext> certificates;
  if (const uint32_t error = OpenPersonalStore(services.stores, &store)) {
    capiErrorCode = error;
    return 0;
  }
  if (const uint32_t error = store.enumerate(&certificates)) {
    capiErrorCode = error;
    return 0;
  }
  // Every certificate counts: with or without a key, of any purpose,
  // expired or not.
  ieCertList.reserve(certificates.size());
  for (const CertContext& certificate : certificates) {
    const auto der = certificate.encoded();
    ByteBuffer copy;
    if (!copy.append(der.data(), static_cast<int32_t>(der.size()))) continue;
    ieCertList.push_back(std::move(copy));
  }
  return static_cast<int32_t>(ieCertList.size());
}

Text SecurityEngine::GetIECertSerial(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex, [](const CertificateInfo& c) { return c.serial(); });
}

Text SecurityEngine::GetIECertCommonName(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex,
                   [](const CertificateInfo& c) { return c.subjectCommonName(); });
}

Text SecurityEngine::GetIECertSubject(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex, [](const CertificateInfo& c) { return c.subject(); });
}

Text SecurityEngine::GetIECertIssuer(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex, [](const CertificateInfo& c) { return c.issuer(); });
}

Text SecurityEngine::GetIECertNotBefore(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex,
                   [](const CertificateInfo& c) { return c.notBefore(TimeForm::kCompact); });
}

Text SecurityEngine::GetIECertNotAfter(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex,
                   [](const CertificateInfo& c) { return c.notAfter(TimeForm::kCompact); });
}

Text SecurityEngine::GetIECertFinger(int32_t dwIndex) {
  if (refuseInProtectedMode()) return Text();
  return EntryText(ieCertList, dwIndex, [](const CertificateInfo& c) { return c.thumbprint(); });
}

int32_t SecurityEngine::DeleteIECert(int32_t dwIndex) {
  if (refuseInProtectedMode()) return errorCode;
  errorCode = rc::kCertNotFound;
  const ByteBuffer* entry = Entry(ieCertList, dwIndex);
  if (entry == nullptr) return errorCode;
  const CertificateInfo info(*entry);
  if (!info.valid()) {
    capiErrorCode = info.parseError();
    return errorCode;
  }
  CertStore store;
  std::vector<CertContext> certificates;
  if (uint32_t error = OpenPersonalStore(services.stores, &store);
      error != 0 || (error = store.enumerate(&certificates)) != 0) {
    capiErrorCode = error;
    return errorCode;
  }
  // Only the first certificate with the same encoding is considered; its
  // key container stays.
  const auto wanted = entry->bytes();
  for (const CertContext& certificate : certificates) {
    const auto der = certificate.encoded();
    if (!std::equal(der.begin(), der.end(), wanted.begin(), wanted.end())) continue;
    if (const uint32_t error = CertStore::DeleteCertificate(certificate)) {
      capiErrorCode = error;
      return errorCode;
    }
    errorCode = rc::kSuccess;
    // The indexes no longer match the store until the next GetIECertCount.
    ieCertList.clear();
    return errorCode;
  }
  return errorCode;
}

}  // namespace quorvant
