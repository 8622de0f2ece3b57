// The signer's certificate as SignPkcs7 takes it from a store (where any
// import may have put it) and the comparison date a caller gives: arbitrary
// bytes never crash either; a certificate that parses always gives one
// complete DER message, which OpenSSL reads back with the serial of that
// certificate whenever OpenSSL reads the certificate itself,
// and a date that parses always names a second within years 0 to 9999.
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/openssl.h"
#include "platform/certificates/certificate.h"
#include "platform/certificates/certificate_der.h"
#include "sign/signed_data.h"
#include "sign/signer_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant;
  if (size > (1u << 16)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto date = ParseCompareDate(text)) {
    if (*date < -62167219200 || *date > 253402300799) std::abort();
  }
  (void)IsThumbprintText(text);

  const std::span<const uint8_t> der(data, size);
  SignedDataRequest request;
  request.signerCertificate = der;
  request.content = der;
  request.signingTime = 1371958275;
  request.certificates.push_back(der);
  auto message = EncodeSignedData(
      request, [](uint32_t, std::span<const uint8_t>, ByteBuffer* signature) {
        const uint8_t fixed[] = {1, 2, 3, 4};
        return signature->append(fixed, 4) ? Outcome::Ok() : Outcome::Fail(5002);
      });
  Certificate parsed;
  const bool isCertificate = Certificate::Parse(der, &parsed) == 0;
  if (message.ok() != isCertificate) std::abort();
  if (!message.ok()) return 0;
  // Always one complete DER element, whatever the certificate held.
  der::Reader reader(message->bytes());
  der::Element whole;
  if (!reader.read(der::kSequence, &whole) || !reader.atEnd()) std::abort();
  // OpenSSL's certificate parser is stricter than ours (names are kept
  // encoded, as the platform keeps them): the message is read back by
  // OpenSSL when it reads the certificate too.
  const unsigned char* c = data;
  OsslPtr<X509> x509(d2i_X509(nullptr, &c, static_cast<long>(size)));
  if (!x509 || c != data + size) return 0;
  const unsigned char* p = message->data();
  OsslPtr<PKCS7> pkcs7(d2i_PKCS7(nullptr, &p, message->size()));
  if (!pkcs7 || p != message->data() + message->size() || !PKCS7_type_is_signed(pkcs7.get())) {
    std::abort();
  }
  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(pkcs7.get()), 0);
  if (si == nullptr || ASN1_INTEGER_cmp(si->issuer_and_serial->serial,
                                        X509_get0_serialNumber(x509.get())) != 0) {
    std::abort();
  }
  return 0;
}
