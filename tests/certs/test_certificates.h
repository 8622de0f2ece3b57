// Certificates made by OpenSSL at test time, and the committed files of
// tests/certs/data (see make_test_certs.py and make_test_certs.sh there).
#ifndef QUORVANT_TESTS_CERTS_TEST_CERTIFICATES_H_
#define QUORVANT_TESTS_CERTS_TEST_CERTIFICATES_H_

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvant::testing {

struct TestCertificateOptions {
  // UTF-8 attribute values; an empty text leaves the attribute out.
  std::string commonName = "Test Certificate";
  std::string organization;
  // An attribute of type 1.2.3.4 before the others, of any length (the
  // standard types have upper bounds OpenSSL enforces).
  std::string unknownAttribute;
  // Empty: the issuer is the subject.
  std::string issuerCommonName;
  uint64_t serial = 1;
  int64_t notBefore = 1372044675;  // 2013-06-24T03:31:15Z
  int64_t notAfter = 1451577600;   // 2015-12-31T16:00:00Z
  // Key-usage bits as OpenSSL names them (KU_DIGITAL_SIGNATURE, ...; 0x8000
  // is decipherOnly); -1 leaves the extension out.
  int keyUsage = -1;
  // A subject alternative name holding one directoryName with this CN.
  std::string altDirectoryCommonName;
};

inline EVP_PKEY* TestKey() {
  // One P-256 key for every test certificate of the process.
  static EVP_PKEY* const key = EVP_EC_gen("P-256");
  return key;
}

inline std::vector<uint8_t> MakeTestCertificate(const TestCertificateOptions& options) {
  auto fail = [](const char* what) -> std::vector<uint8_t> {
    throw std::runtime_error(std::string("test certificate: ") + what);
  };
  std::unique_ptr<X509, decltype(&X509_free)> x509(X509_new(), &X509_free);
  if (!x509 || !X509_set_version(x509.get(), 2)) return fail("X509_new");
  if (!ASN1_INTEGER_set_uint64(X509_get_serialNumber(x509.get()), options.serial)) {
    return fail("serial");
  }
  auto makeName = [](const std::string& cn, const std::string& o,
                     const std::string& unknown = std::string()) {
    X509_NAME* name = X509_NAME_new();
    auto add = [&](const char* field, const std::string& value) {
      if (value.empty()) return;
      X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(value.data()),
                                 static_cast<int>(value.size()), -1, 0);
    };
    add("1.2.3.4", unknown);
    add("O", o);
    add("CN", cn);
    return name;
  };
  std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> subject(
      makeName(options.commonName, options.organization, options.unknownAttribute), &X509_NAME_free);
  std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> issuer(
      options.issuerCommonName.empty() ? X509_NAME_dup(subject.get())
                                    : makeName(options.issuerCommonName, ""),
      &X509_NAME_free);
  if (!X509_set_subject_name(x509.get(), subject.get()) ||
      !X509_set_issuer_name(x509.get(), issuer.get()) ||
      !ASN1_TIME_set(X509_getm_notBefore(x509.get()), options.notBefore) ||
      !ASN1_TIME_set(X509_getm_notAfter(x509.get()), options.notAfter) ||
      !X509_set_pubkey(x509.get(), TestKey())) {
    return fail("fields");
  }
  if (options.keyUsage >= 0) {
    std::unique_ptr<ASN1_BIT_STRING, decltype(&ASN1_BIT_STRING_free)> bits(ASN1_BIT_STRING_new(),
                                                                          &ASN1_BIT_STRING_free);
    // OpenSSL's KU_* values: bit 7 of the first octet is digitalSignature
    // (named bit 0); 0x8000 is decipherOnly (named bit 8).
    for (int named = 0; named < 9; ++named) {
      const int mask = named < 8 ? (0x80 >> named) : 0x8000;
      if ((options.keyUsage & mask) && !ASN1_BIT_STRING_set_bit(bits.get(), named, 1)) {
        return fail("key usage");
      }
    }
    if (!X509_add1_ext_i2d(x509.get(), NID_key_usage, bits.get(), 1, X509V3_ADD_DEFAULT)) {
      return fail("key usage extension");
    }
  }
  if (!options.altDirectoryCommonName.empty()) {
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    GENERAL_NAME* name = GENERAL_NAME_new();
    name->type = GEN_DIRNAME;
    name->d.directoryName = makeName(options.altDirectoryCommonName, "Alt");
    sk_GENERAL_NAME_push(names, name);
    const int ok = X509_add1_ext_i2d(x509.get(), NID_subject_alt_name, names, 0,
                                     X509V3_ADD_DEFAULT);
    GENERAL_NAMES_free(names);
    if (!ok) return fail("alternative name");
  }
  if (X509_sign(x509.get(), TestKey(), EVP_sha256()) <= 0) return fail("sign");
  unsigned char* der = nullptr;
  const int length = i2d_X509(x509.get(), &der);
  if (length <= 0) return fail("i2d_X509");
  std::vector<uint8_t> out(der, der + length);
  OPENSSL_free(der);
  return out;
}

inline std::vector<uint8_t> MakeTestCertificate(const std::string& commonName, uint64_t serial) {
  TestCertificateOptions options;
  options.commonName = commonName;
  options.serial = serial;
  return MakeTestCertificate(options);
}

// A file of tests/certs/data.
inline std::vector<uint8_t> ReadTestData(const std::string& name) {
  const auto path = std::filesystem::path(__FILE__).parent_path() / "data" / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("missing test data " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// OpenSSL's SHA-1 of `bytes` in upper-case hex.
inline std::string OpenSslSha1Hex(const std::vector<uint8_t>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_CERTS_TEST_CERTIFICATES_H_
