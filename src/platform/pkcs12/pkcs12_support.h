// What the PKCS #12 reader and writer share: the password in the form
// OpenSSL takes, and the check of a password-based encryption algorithm
// before it is run. Internal to the platform layer; OpenSSL's owners and
// library context are the component's (base/openssl.h).
#ifndef QUORVANT_PLATFORM_PKCS12_SUPPORT_H_
#define QUORVANT_PLATFORM_PKCS12_SUPPORT_H_

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/openssl.h"
#include "encoding/byte_buffer.h"

namespace quorvant::pkcs12_detail {

// The caller's UTF-16 password as UTF-8 for OpenSSL, or the NULL password.
// The UTF-8 copy lives in a buffer that is wiped when released.
class PfxPassword {
 public:
  // Null: the NULL password. E_OUTOFMEMORY when the copy cannot be made.
  [[nodiscard]] uint32_t assign(const char16_t* password);

  bool absent() const { return absent_; }
  // Null for the NULL password; a terminated (possibly empty) string
  // otherwise.
  const char* data() const { return absent_ ? nullptr : utf8_.c_str(); }
  int length() const { return absent_ ? 0 : utf8_.size(); }

 private:
  bool absent_ = true;
  ByteBuffer utf8_;
};

// The password-based encryption algorithms a file may use: PBES2 with
// PBKDF2 (any PRF and cipher the library context offers), and the PKCS #12
// and PKCS #5 v1.5 schemes OpenSSL knows, whose cipher and digest the
// library context offers; every iteration count at most kPfxMaxIterations.
// Returns 0, CRYPT_E_UNKNOWN_ALGO, or CRYPT_E_BAD_ENCODE for parameters
// that do not parse. *iterations (when given) receives the count the
// derivation will run.
[[nodiscard]] uint32_t CheckPbeAlgorithm(const X509_ALGOR* algorithm,
                                         uint64_t* iterations = nullptr);

// The iteration count as a number (1 when absent); call after
// IterationCountAllowed.
uint64_t IterationCount(const ASN1_INTEGER* iterations);

// True when both keys are RSA (or RSA-PSS) keys with the same modulus and
// public exponent. Unlike EVP_PKEY_eq this holds across the two key types
// and across library contexts.
bool SameRsaPublicKey(const EVP_PKEY* a, const EVP_PKEY* b);

// The modulus and public exponent of an RSA (or RSA-PSS) key as one byte
// string, equal exactly when SameRsaPublicKey holds: the key of a hash map
// that pairs keys with certificates in linear time. False for other keys.
bool RsaPublicKeyId(const EVP_PKEY* key, std::string* out);

// The value of an iteration count: false when it is negative or above
// kPfxMaxIterations. An absent count is 1 (RFC 7292, the MacData default).
bool IterationCountAllowed(const ASN1_INTEGER* iterations);

}  // namespace quorvant::pkcs12_detail

#endif  // QUORVANT_PLATFORM_PKCS12_SUPPORT_H_
