// What the PKCS #12 reader and writer share: the OpenSSL library context
// they work in, owners for the OpenSSL objects they use, the password in
// the form OpenSSL takes, and the check of a password-based encryption
// algorithm before it is run. Internal to the platform layer.
#ifndef QUORVANT_PLATFORM_PKCS12_SUPPORT_H_
#define QUORVANT_PLATFORM_PKCS12_SUPPORT_H_

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <span>

#include "encoding/byte_buffer.h"

namespace quorvant::pkcs12_detail {

// OpenSSL's library context with the "default" and "legacy" providers: the
// RC2 of older files lives in "legacy" in OpenSSL 3. It is ours, so loading
// the legacy provider changes nothing for the rest of the process. Null
// only when OpenSSL cannot allocate it.
OSSL_LIB_CTX* LibraryContext();

// The stacks by name, so that they read as types.
using Pkcs7Stack = STACK_OF(PKCS7);
using SafeBagStack = STACK_OF(PKCS12_SAFEBAG);

struct Pkcs12Deleter {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct Pkcs7Deleter {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct Pkcs7StackDeleter {
  void operator()(Pkcs7Stack* p) const { sk_PKCS7_pop_free(p, PKCS7_free); }
};
struct SafeBagDeleter {
  void operator()(PKCS12_SAFEBAG* p) const { PKCS12_SAFEBAG_free(p); }
};
struct SafeBagStackDeleter {
  void operator()(SafeBagStack* p) const { sk_PKCS12_SAFEBAG_pop_free(p, PKCS12_SAFEBAG_free); }
};
struct X509Deleter {
  void operator()(X509* p) const { X509_free(p); }
};
struct X509AlgorDeleter {
  void operator()(X509_ALGOR* p) const { X509_ALGOR_free(p); }
};
struct X509SigDeleter {
  void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};
struct PrivateKeyInfoDeleter {
  void operator()(PKCS8_PRIV_KEY_INFO* p) const { PKCS8_PRIV_KEY_INFO_free(p); }
};
struct EvpCipherDeleter {
  void operator()(EVP_CIPHER* p) const { EVP_CIPHER_free(p); }
};
struct EvpMdDeleter {
  void operator()(EVP_MD* p) const { EVP_MD_free(p); }
};
using Pkcs12Ptr = std::unique_ptr<PKCS12, Pkcs12Deleter>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Deleter>;
using Pkcs7StackPtr = std::unique_ptr<Pkcs7Stack, Pkcs7StackDeleter>;
using SafeBagPtr = std::unique_ptr<PKCS12_SAFEBAG, SafeBagDeleter>;
using SafeBagStackPtr = std::unique_ptr<SafeBagStack, SafeBagStackDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, X509AlgorDeleter>;
using X509SigPtr = std::unique_ptr<X509_SIG, X509SigDeleter>;
using PrivateKeyInfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, PrivateKeyInfoDeleter>;
using EvpCipherPtr = std::unique_ptr<EVP_CIPHER, EvpCipherDeleter>;
using EvpMdPtr = std::unique_ptr<EVP_MD, EvpMdDeleter>;

// Leaves OpenSSL's error queue as it was when the scope began: the errors
// of a failed step are ours to interpret, never the caller's to find.
class ErrorQueueScope {
 public:
  ErrorQueueScope() { ERR_set_mark(); }
  ~ErrorQueueScope() { ERR_pop_to_mark(); }
  ErrorQueueScope(const ErrorQueueScope&) = delete;
  ErrorQueueScope& operator=(const ErrorQueueScope&) = delete;
};

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
// that do not parse.
[[nodiscard]] uint32_t CheckPbeAlgorithm(const X509_ALGOR* algorithm);

// True when both keys are RSA (or RSA-PSS) keys with the same modulus and
// public exponent. Unlike EVP_PKEY_eq this holds across the two key types
// and across library contexts.
bool SameRsaPublicKey(const EVP_PKEY* a, const EVP_PKEY* b);

// The value of an iteration count: false when it is negative or above
// kPfxMaxIterations. An absent count is 1 (RFC 7292, the MacData default).
bool IterationCountAllowed(const ASN1_INTEGER* iterations);

}  // namespace quorvant::pkcs12_detail

#endif  // QUORVANT_PLATFORM_PKCS12_SUPPORT_H_
