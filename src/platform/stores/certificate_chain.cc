#include "platform/stores/certificate_chain.h"

#include <openssl/x509_vfy.h>

#include "base/openssl.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

OsslPtr<X509> ParseCertificate(std::span<const uint8_t> der) {
  const unsigned char* p = der.data();
  OsslPtr<X509> certificate(X509_new_ex(OpensslContext(), nullptr));
  if (!certificate) return certificate;
  X509* into = certificate.get();
  if (d2i_X509(&into, &p, static_cast<long>(der.size())) == nullptr) {
    // d2i_X509 freed the object it was given.
    certificate.release();
    return certificate;
  }
  if (certificate && p != der.data() + der.size()) certificate.reset();
  return certificate;
}

// Adds the certificates of `store` that OpenSSL can read; the others can
// never be part of a chain it builds.
uint32_t AddStoreCertificates(const CertStore& store, X509Stack* to) {
  std::vector<CertContext> contexts;
  if (const uint32_t error = store.enumerate(&contexts); error != 0) return error;
  for (const CertContext& context : contexts) {
    OsslPtr<X509> certificate = ParseCertificate(context.encoded());
    if (!certificate) continue;
    if (sk_X509_push(to, certificate.get()) <= 0) return win32::kEOutofmemory;
    certificate.release();
  }
  return 0;
}

uint32_t OpenAndAdd(CertificateStores& stores, std::string_view name, X509Stack* to) {
  CertStore store;
  if (const uint32_t error = stores.openSystemStore(name, &store); error != 0) return error;
  return AddStoreCertificates(store, to);
}

// The platform's trust bit for one of OpenSSL's verification errors.
uint32_t TrustBitFor(int error) {
  switch (error) {
    case X509_V_OK:
      return kCertTrustNoError;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return kCertTrustIsNotTimeValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return kCertTrustIsUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return kCertTrustIsPartialChain;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_UNTRUSTED:
      return kCertTrustIsNotSignatureValid;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_CERT_REJECTED:
      return kCertTrustIsNotValidForUsage;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return kCertTrustInvalidBasicConstraints;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return kCertTrustInvalidExtension;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
      return kCertTrustInvalidPolicyConstraints;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return kCertTrustInvalidNameConstraints;
    default:
      // A problem the platform has no closer bit for must still never pass
      // as a trusted chain.
      return kCertTrustIsNotSignatureValid;
  }
}

// Notes every problem and lets the verifier go on, so that the whole chain
// is built and its status holds all of them, as the platform reports them.
int CollectTrustErrors(int ok, X509_STORE_CTX* ctx) {
  if (ok == 0) {
    auto* status = static_cast<uint32_t*>(X509_STORE_CTX_get_ex_data(ctx, 0));
    if (status != nullptr) *status |= TrustBitFor(X509_STORE_CTX_get_error(ctx));
  }
  return 1;
}

}  // namespace

Result<CertificateChain> BuildCertificateChain(CertificateStores& stores,
                                               std::span<const uint8_t> endEntity,
                                               const CertStore* additional,
                                               int64_t atUnixSeconds) {
  const OpensslErrorScope errors;
  OsslPtr<X509> leaf = ParseCertificate(endEntity);
  if (!leaf) return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Badtag);

  OsslPtr<X509Stack> roots(sk_X509_new_null());
  OsslPtr<X509Stack> intermediates(sk_X509_new_null());
  OsslPtr<X509_STORE> trust(X509_STORE_new());
  OsslPtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new_ex(OpensslContext(), nullptr));
  if (!roots || !intermediates || !trust || !ctx) {
    return Outcome::Fail(rc::kAllocationFailed, win32::kEOutofmemory);
  }
  if (const uint32_t error = OpenAndAdd(stores, "ROOT", roots.get()); error != 0) {
    return Outcome::Fail(rc::kGeneralError, error);
  }
  if (const uint32_t error = OpenAndAdd(stores, "CA", intermediates.get()); error != 0) {
    return Outcome::Fail(rc::kGeneralError, error);
  }
  if (additional != nullptr && additional->valid()) {
    if (const uint32_t error = AddStoreCertificates(*additional, intermediates.get());
        error != 0) {
      return Outcome::Fail(rc::kGeneralError, error);
    }
  }
  for (int i = 0; i < sk_X509_num(roots.get()); ++i) {
    // A certificate that is already there is no failure.
    X509_STORE_add_cert(trust.get(), sk_X509_value(roots.get(), i));
  }

  if (X509_STORE_CTX_init(ctx.get(), trust.get(), leaf.get(), intermediates.get()) != 1) {
    return Outcome::Fail(rc::kAllocationFailed, win32::kEOutofmemory);
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(atUnixSeconds));
  CertificateChain chain;
  X509_STORE_CTX_set_ex_data(ctx.get(), 0, &chain.trustErrorStatus);
  X509_STORE_CTX_set_verify_cb(ctx.get(), CollectTrustErrors);
  if (X509_verify_cert(ctx.get()) < 0) {
    return Outcome::Fail(rc::kGeneralError, win32::kCryptENotFound);
  }
  // A verifier that stopped without a reason still left no trusted chain.
  if (X509_STORE_CTX_get_error(ctx.get()) != X509_V_OK && chain.trustErrorStatus == 0) {
    chain.trustErrorStatus = TrustBitFor(X509_STORE_CTX_get_error(ctx.get()));
  }

  STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
  const int count = built != nullptr ? sk_X509_num(built) : 0;
  for (int i = 0; i < count; ++i) {
    X509* element = sk_X509_value(built, i);
    unsigned char* der = nullptr;
    const int length = i2d_X509(element, &der);
    if (length <= 0) return Outcome::Fail(rc::kAllocationFailed, win32::kEOutofmemory);
    ByteBuffer bytes;
    const bool copied = bytes.append(der, length);
    OPENSSL_free(der);
    if (!copied) return Outcome::Fail(rc::kAllocationFailed, win32::kEOutofmemory);
    chain.elements.push_back(std::move(bytes));
  }
  if (chain.elements.empty()) {
    // The end-entity certificate is always the chain's first element.
    chain.trustErrorStatus |= kCertTrustIsPartialChain;
    ByteBuffer bytes;
    if (!bytes.append(endEntity)) return Outcome::Fail(rc::kAllocationFailed, win32::kEOutofmemory);
    chain.elements.push_back(std::move(bytes));
  }
  return chain;
}

}  // namespace quorvant
