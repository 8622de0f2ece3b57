// Key and hash handles of the provider layer.
#include <openssl/err.h>

#include <cstring>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"
#include "platform/keys/symmetric_key.h"

namespace quorvant {

CryptHash::CryptHash(ConstructionToken, uint32_t algId, OsslPtr<EVP_MD_CTX> ctx)
    : algId_(algId), ctx_(std::move(ctx)) {}

uint32_t CryptHash::hashData(std::span<const uint8_t> data) {
  if (final_) return win32::kNteBadHashState;
  if (EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) <= 0) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  return 0;
}

uint32_t CryptHash::setHashValue(std::span<const uint8_t> value) {
  if (final_) return win32::kNteBadHashState;
  if (value.size() != static_cast<size_t>(EVP_MD_CTX_get_size(ctx_.get()))) {
    return win32::kNteBadLen;
  }
  if (!value_.append(value.data(), static_cast<int32_t>(value.size()))) {
    return win32::kNteNoMemory;
  }
  final_ = true;
  return 0;
}

uint32_t CryptHash::finish() {
  if (final_) return 0;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), digest, &length) <= 0) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  if (!value_.append(digest, static_cast<int32_t>(length))) return win32::kNteNoMemory;
  final_ = true;
  return 0;
}

uint32_t CryptHash::hashValue(ByteBuffer* value) {
  value->clear();
  const uint32_t error = finish();
  if (error != 0) return error;
  return value->append(value_.bytes()) ? 0 : win32::kNteNoMemory;
}

CryptKey::CryptKey(ConstructionToken, OsslPtr<EVP_PKEY> rsa, uint32_t algId, uint32_t keySpec,
                   uint32_t flags, bool privateExportable, bool silent)
    : algId_(algId),
      keySpec_(keySpec),
      flags_(flags),
      privateExportable_(privateExportable),
      silent_(silent),
      rsa_(std::move(rsa)) {}

CryptKey::CryptKey(ConstructionToken, std::unique_ptr<SymmetricKey> symmetric, uint32_t flags)
    : algId_(symmetric->algId()),
      keySpec_(0),
      flags_(flags),
      privateExportable_((flags & kCryptExportable) != 0),
      silent_(false),
      symmetric_(std::move(symmetric)) {}

CryptKey::~CryptKey() = default;

uint32_t CryptKey::bitLength() const {
  if (rsa_) return static_cast<uint32_t>(EVP_PKEY_get_bits(rsa_.get()));
  return static_cast<uint32_t>(symmetric_->keyBytes().size() * 8);
}

uint32_t CryptKey::exportKey(uint8_t blobType, uint32_t flags, ByteBuffer* blob) const {
  blob->clear();
  if (blobType != kPublickeyblob && blobType != kPrivatekeyblob && blobType != kPlaintextkeyblob) {
    return win32::kNteBadType;
  }
  if (flags != 0) return win32::kNteBadFlags;
  // The public half leaves freely.
  if (blobType == kPublickeyblob) {
    return rsa_ ? EncodeRsaPublicKeyBlob(rsa_.get(), algId_, blob) : win32::kNteBadKey;
  }
  const bool fits = blobType == kPrivatekeyblob ? rsa_ && keySpec_ != 0 : !!symmetric_;
  if (!fits) return win32::kNteBadKey;
  if (!privateExportable_) return win32::kNteBadKeyState;
  if (blobType == kPlaintextkeyblob) {
    return EncodePlaintextKeyBlob(algId_, symmetric_->keyBytes(), blob);
  }
  if (silent_ && (flags_ & kCryptUserProtected) != 0) return win32::kNteSilentContext;
  return EncodeRsaPrivateKeyBlob(rsa_.get(), algId_, blob);
}

uint32_t CryptKey::setParam(uint32_t param, std::span<const uint8_t> data) {
  if (!symmetric_ || (param != kKpIv && param != kKpMode)) return win32::kNteBadType;
  if (param == kKpIv) return symmetric_->setIv(data);
  if (data.size() != 4) return win32::kNteBadData;
  const uint32_t mode = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                        static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  return symmetric_->setMode(mode);
}

uint32_t CryptKey::encrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out) {
  return symmetric_ ? symmetric_->encrypt(data, final, out) : win32::kNteBadKey;
}

uint32_t CryptKey::decrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out) {
  return symmetric_ ? symmetric_->decrypt(data, final, out) : win32::kNteBadKey;
}

}  // namespace quorvant
