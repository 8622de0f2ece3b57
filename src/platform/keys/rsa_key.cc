#include "platform/keys/rsa_key.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

#include <algorithm>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

// Length of the DER DigestInfo before the digest itself (RFC 8017, 9.2,
// note 1).
size_t DigestInfoPrefixLength(uint32_t hashAlgId) {
  switch (hashAlgId) {
    case kCalgMd5:
      return 18;
    case kCalgSha1:
      return 15;
    default:  // SHA-256, SHA-384, SHA-512
      return 19;
  }
}

}  // namespace

uint32_t GenerateRsaKey(uint32_t bits, OsslPtr<EVP_PKEY>* out) {
  out->reset();
  // EVP_PKEY_Q_keygen takes a size_t through varargs: pass exactly that.
  OsslPtr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
  if (!key) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  *out = std::move(key);
  return 0;
}

const EVP_MD* DigestOfAlgorithm(uint32_t hashAlgId) {
  switch (hashAlgId) {
    case kCalgMd5:
      return EVP_md5();
    case kCalgSha1:
      return EVP_sha1();
    case kCalgSha256:
      return EVP_sha256();
    case kCalgSha384:
      return EVP_sha384();
    case kCalgSha512:
      return EVP_sha512();
    default:
      return nullptr;
  }
}

uint32_t SignDigestPkcs1(EVP_PKEY* key, uint32_t hashAlgId, std::span<const uint8_t> digest,
                         bool withDigestInfo, ByteBuffer* signature) {
  signature->clear();
  const EVP_MD* md = DigestOfAlgorithm(hashAlgId);
  if (md == nullptr) return win32::kNteBadAlgid;
  if (digest.size() != static_cast<size_t>(EVP_MD_get_size(md))) return win32::kNteBadHash;

  OsslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(key, nullptr));
  size_t length = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
      (withDigestInfo && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) <= 0) ||
      EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) <= 0 ||
      !signature->allocate(static_cast<int32_t>(length))) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  // The encoded digest needs at least 11 more bytes (RFC 8017, 9.2, step 3).
  const size_t encodedLength =
      digest.size() + (withDigestInfo ? DigestInfoPrefixLength(hashAlgId) : 0);
  if (encodedLength + 11 > length) {
    signature->clear();
    return win32::kNteBadLen;
  }
  if (EVP_PKEY_sign(ctx.get(), signature->data(), &length, digest.data(), digest.size()) <= 0 ||
      length != static_cast<size_t>(signature->size())) {
    ERR_clear_error();
    signature->clear();
    return win32::kNteFail;
  }
  std::reverse(signature->data(), signature->data() + signature->size());
  return 0;
}

}  // namespace quorvant
