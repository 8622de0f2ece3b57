// The component's one home for OpenSSL: owners for every OpenSSL type the
// component holds, the one library context every module works in, and the
// error queue.
//
//   OsslPtr<X509> cert(d2i_X509(nullptr, &p, len));
//   EVP_CIPHER* des = EVP_CIPHER_fetch(OpensslContext(), "DES-EDE3-CBC", nullptr);
//
// A module never creates a library context or a deleter of its own; a type
// that is missing here is added here.
#ifndef QUORVANT_BASE_OPENSSL_H_
#define QUORVANT_BASE_OPENSSL_H_

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>
#include <memory>

namespace quorvant {

template <typename T>
struct OsslDeleter;

#define QUORVANT_OSSL_OWNER(Type, freeFunction)               \
  template <>                                                 \
  struct OsslDeleter<Type> {                                  \
    void operator()(Type* p) const { freeFunction(p); }       \
  }

// Big numbers are wiped: most numbers the component holds are key parts.
QUORVANT_OSSL_OWNER(BIGNUM, BN_clear_free);
QUORVANT_OSSL_OWNER(BN_CTX, BN_CTX_free);
QUORVANT_OSSL_OWNER(BIO, BIO_free_all);
QUORVANT_OSSL_OWNER(EVP_PKEY, EVP_PKEY_free);
QUORVANT_OSSL_OWNER(EVP_PKEY_CTX, EVP_PKEY_CTX_free);
QUORVANT_OSSL_OWNER(EVP_MD, EVP_MD_free);
QUORVANT_OSSL_OWNER(EVP_MD_CTX, EVP_MD_CTX_free);
QUORVANT_OSSL_OWNER(EVP_CIPHER, EVP_CIPHER_free);
QUORVANT_OSSL_OWNER(EVP_CIPHER_CTX, EVP_CIPHER_CTX_free);
QUORVANT_OSSL_OWNER(OSSL_PARAM, OSSL_PARAM_free);
QUORVANT_OSSL_OWNER(OSSL_PARAM_BLD, OSSL_PARAM_BLD_free);
// ASN1_INTEGER, ASN1_OCTET_STRING, ASN1_TIME and the other string types
// are all ASN1_STRING to the compiler; one owner serves them all.
QUORVANT_OSSL_OWNER(ASN1_STRING, ASN1_STRING_free);
QUORVANT_OSSL_OWNER(ASN1_OBJECT, ASN1_OBJECT_free);
QUORVANT_OSSL_OWNER(ASN1_TYPE, ASN1_TYPE_free);
QUORVANT_OSSL_OWNER(X509, X509_free);
QUORVANT_OSSL_OWNER(X509_NAME, X509_NAME_free);
QUORVANT_OSSL_OWNER(X509_ALGOR, X509_ALGOR_free);
QUORVANT_OSSL_OWNER(X509_SIG, X509_SIG_free);
QUORVANT_OSSL_OWNER(X509_REQ, X509_REQ_free);
QUORVANT_OSSL_OWNER(X509_STORE, X509_STORE_free);
QUORVANT_OSSL_OWNER(X509_STORE_CTX, X509_STORE_CTX_free);
QUORVANT_OSSL_OWNER(PKCS7, PKCS7_free);
QUORVANT_OSSL_OWNER(PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free);
QUORVANT_OSSL_OWNER(PKCS12, PKCS12_free);
QUORVANT_OSSL_OWNER(PKCS12_SAFEBAG, PKCS12_SAFEBAG_free);
QUORVANT_OSSL_OWNER(PBEPARAM, PBEPARAM_free);
QUORVANT_OSSL_OWNER(PBE2PARAM, PBE2PARAM_free);
QUORVANT_OSSL_OWNER(PBKDF2PARAM, PBKDF2PARAM_free);
QUORVANT_OSSL_OWNER(CMS_ContentInfo, CMS_ContentInfo_free);
QUORVANT_OSSL_OWNER(OSSL_LIB_CTX, OSSL_LIB_CTX_free);
QUORVANT_OSSL_OWNER(OSSL_PROVIDER, OSSL_PROVIDER_unload);

#undef QUORVANT_OSSL_OWNER

// Stacks own their elements.
using X509Stack = STACK_OF(X509);
using Pkcs7Stack = STACK_OF(PKCS7);
using SafeBagStack = STACK_OF(PKCS12_SAFEBAG);
template <>
struct OsslDeleter<X509Stack> {
  void operator()(X509Stack* p) const { sk_X509_pop_free(p, X509_free); }
};
template <>
struct OsslDeleter<Pkcs7Stack> {
  void operator()(Pkcs7Stack* p) const { sk_PKCS7_pop_free(p, PKCS7_free); }
};
template <>
struct OsslDeleter<SafeBagStack> {
  void operator()(SafeBagStack* p) const { sk_PKCS12_SAFEBAG_pop_free(p, PKCS12_SAFEBAG_free); }
};

template <typename T>
using OsslPtr = std::unique_ptr<T, OsslDeleter<T>>;

// The component's library context, with the "default" and "legacy"
// providers loaded (DES, RC2 and RC4 live in "legacy" in OpenSSL 3). It is
// ours alone, so loading the legacy provider changes nothing for the rest
// of the process; it lives until the process ends. Null only when OpenSSL
// cannot allocate it. Safe to use from several threads.
OSSL_LIB_CTX* OpensslContext();
// Whether the legacy provider could be loaded into it.
bool OpensslLegacyAvailable();

// The earliest error on this thread's OpenSSL error queue (0 when empty),
// after which the queue is empty. Callers map it to their own result; no
// caller depends on OpenSSL's reason codes beyond that.
unsigned long TakeOpensslError();

// Leaves OpenSSL's error queue as it was when the scope began: the errors
// of a failed step are ours to interpret, never the caller's to find.
class OpensslErrorScope {
 public:
  OpensslErrorScope() { ERR_set_mark(); }
  ~OpensslErrorScope() { ERR_pop_to_mark(); }
  OpensslErrorScope(const OpensslErrorScope&) = delete;
  OpensslErrorScope& operator=(const OpensslErrorScope&) = delete;
};

}  // namespace quorvant

#endif  // QUORVANT_BASE_OPENSSL_H_
