// Certificates and names from arbitrary bytes: never a crash, texts within
// their limits, and a certificate that parses is one a store accepts with
// the same thumbprint. The input is also read as a bare X.501 Name.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "certs/certificate_info.h"
#include "encoding/code_page.h"
#include "platform/stores/cert_store.h"
#include "platform/certificates/certificate_name.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool isUpperHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return text.size() % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant;
  if (size > (1u << 16)) return 0;
  const std::span<const uint8_t> bytes(data, size);

  (void)X500NameText(bytes);
  (void)NameAttributeText(bytes, "2.5.4.3");

  const CertificateInfo info(bytes);
  if (!info.valid()) {
    check(info.parseError() != 0);
    check(info.subject().empty() && info.serial().empty() && info.keyUsage() == 0);
    CertContext context;
    check(CertContext::Create(bytes, &context) == info.parseError());
    return 0;
  }
  check(info.parseError() == 0);
  check(info.subject().size() <= kNameTextLimit);
  check(info.issuer().size() <= kNameTextLimit);
  check(info.subjectCommonName().size() <= kCommonNameTextLimit);
  check(info.issuerCommonName().size() <= kCommonNameTextLimit);
  const std::string serial = info.serial();
  check(!serial.empty() && isUpperHex(serial));
  check(serial.size() == 2 * info.certificate()->serialNumber().size());
  const std::string thumbprint = info.thumbprint();
  check(thumbprint.size() == 40 && isUpperHex(thumbprint));
  check(info.keyUsage() >= 0 && info.keyUsage() <= 0xFF);
  (void)info.notBefore();
  (void)info.notAfter(TimeForm::kDateTime);
  (void)info.base64();
  (void)info.IsCaCertificate();
  check(info.verifyTimeValidity(info.certificate()->notBefore()) ==
        (info.certificate()->notBefore() > info.certificate()->notAfter() ? 1 : 0));

  CertContext added;
  const CertStore store = CertStore::OpenMemory();
  check(store.addEncoded(bytes, AddDisposition::kNew, &added) == 0);
  check(CertificateInfo(added).thumbprint() == thumbprint);
  return 0;
}
