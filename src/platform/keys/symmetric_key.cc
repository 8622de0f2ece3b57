#include "platform/keys/symmetric_key.h"

#include <openssl/err.h>

#include <climits>
#include <cstring>
#include <new>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {


// The block ciphers, fetched once from the component's library context.
class CipherLibrary {
 public:
  CipherLibrary() {
    OSSL_LIB_CTX* ctx = OpensslContext();
    if (ctx == nullptr) return;
    const OpensslErrorScope errors;
    ede3Cbc_.reset(EVP_CIPHER_fetch(ctx, "DES-EDE3-CBC", nullptr));
    ede3Ecb_.reset(EVP_CIPHER_fetch(ctx, "DES-EDE3-ECB", nullptr));
    if (OpensslLegacyAvailable()) {
      desCbc_.reset(EVP_CIPHER_fetch(ctx, "DES-CBC", nullptr));
      desEcb_.reset(EVP_CIPHER_fetch(ctx, "DES-ECB", nullptr));
    }
  }

  // The cipher for `mode`; single DES when asked for and available,
  // otherwise three-key Triple-DES.
  const EVP_CIPHER* cipher(bool singleDes, uint32_t mode) const {
    const bool ecb = mode == kCryptModeEcb;
    if (singleDes && desCbc_ && desEcb_) return ecb ? desEcb_.get() : desCbc_.get();
    return ecb ? ede3Ecb_.get() : ede3Cbc_.get();
  }

 private:
  OsslPtr<OSSL_LIB_CTX> ctx_;
  OsslPtr<OSSL_PROVIDER> default_;
  OsslPtr<OSSL_PROVIDER> legacy_;
  OsslPtr<EVP_CIPHER> ede3Cbc_, ede3Ecb_, desCbc_, desEcb_;
};

const CipherLibrary& Library() {
  static const CipherLibrary library;
  return library;
}

}  // namespace

uint32_t SymmetricKey::Create(uint32_t algId, std::span<const uint8_t> key,
                              std::unique_ptr<SymmetricKey>* out) {
  out->reset();
  const size_t length = SymmetricKeyLength(algId);
  if (length == 0) return win32::kNteBadAlgid;
  if (key.size() != length) return win32::kNteBadData;
  ByteBuffer copy;
  if (!copy.append(key.data(), static_cast<int32_t>(key.size()))) return win32::kNteNoMemory;
  try {
    auto created = std::make_unique<SymmetricKey>(ConstructionToken(), algId, std::move(copy));
    // Triple-DES keys K1 K2 K3 in order; two-key Triple-DES repeats K1 as
    // K3 (ANSI X9.52 keying option 2); single DES repeats K everywhere.
    const uint8_t* k = created->key_.data();
    const uint8_t* parts[3] = {k, k + (length >= 16 ? 8 : 0), k + (length == 24 ? 16 : 0)};
    for (const uint8_t* part : parts) {
      if (!created->cipherKey_.append(part, static_cast<int32_t>(kBlockSize))) {
        return win32::kNteNoMemory;
      }
    }
    created->ctx_.reset(EVP_CIPHER_CTX_new());
    if (!created->ctx_ || Library().cipher(false, kCryptModeCbc) == nullptr) {
      return win32::kNteFail;
    }
    *out = std::move(created);
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

SymmetricKey::SymmetricKey(ConstructionToken, uint32_t algId, ByteBuffer key)
    : algId_(algId), key_(std::move(key)), mode_(kCryptModeCbc) {}

SymmetricKey::~SymmetricKey() = default;

std::span<const uint8_t> SymmetricKey::keyBytes() const { return key_.bytes(); }

uint32_t SymmetricKey::setIv(std::span<const uint8_t> iv) {
  if (iv.size() != kBlockSize) return win32::kNteBadData;
  std::memcpy(iv_.data(), iv.data(), kBlockSize);
  finish();
  return 0;
}

uint32_t SymmetricKey::setMode(uint32_t mode) {
  if (mode != kCryptModeCbc && mode != kCryptModeEcb) return win32::kNteBadData;
  mode_ = mode;
  finish();
  return 0;
}

uint32_t SymmetricKey::begin(Direction direction) {
  if (direction_ == direction) return 0;
  const bool singleDes = algId_ == static_cast<uint32_t>(CALG_DES);
  const EVP_CIPHER* cipher = Library().cipher(singleDes, mode_);
  // A native single-DES cipher takes the 8-byte key; Triple-DES takes the
  // 24-byte form, whose first 8 bytes are that same key.
  if (cipher == nullptr ||
      EVP_CipherInit_ex2(ctx_.get(), cipher, cipherKey_.data(), iv_.data(),
                         direction == Direction::kEncrypt ? 1 : 0, nullptr) <= 0 ||
      EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) <= 0) {
    ERR_clear_error();
    finish();
    return win32::kNteFail;
  }
  direction_ = direction;
  return 0;
}

uint32_t SymmetricKey::run(std::span<const uint8_t> data, uint8_t* out) {
  if (data.empty()) return 0;
  int written = 0;
  if (EVP_CipherUpdate(ctx_.get(), out, &written, data.data(), static_cast<int>(data.size())) <= 0 ||
      static_cast<size_t>(written) != data.size()) {
    ERR_clear_error();
    return win32::kNteFail;
  }
  return 0;
}

namespace {

// The result of one call, kept apart from *out until the call has
// succeeded. Calls of a few blocks, as block-by-block callers make, stay
// off the heap.
class CallResult {
 public:
  bool allocate(size_t n) {
    size_ = n;
    if (n <= small_.size()) return true;
    return n <= static_cast<size_t>(INT_MAX / 2) && large_.allocate(static_cast<int32_t>(n));
  }
  uint8_t* data() { return size_ <= small_.size() ? small_.data() : large_.data(); }
  ~CallResult() { explicit_bzero(small_.data(), small_.size()); }

 private:
  std::array<uint8_t, 64> small_{};
  ByteBuffer large_;  // wipes itself
  size_t size_ = 0;
};

}  // namespace

uint32_t SymmetricKey::encrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out) {
  if (data.size() > INT_MAX / 2) return win32::kNteBadLen;
  const size_t whole = data.size() - data.size() % kBlockSize;
  if (!final && whole != data.size()) return win32::kNteBadData;
  if (!final && data.empty()) return 0;

  std::array<uint8_t, kBlockSize> last{};
  if (final) {
    const size_t rest = data.size() - whole;
    if (rest > 0) std::memcpy(last.data(), data.data() + whole, rest);
    std::memset(last.data() + rest, static_cast<int>(kBlockSize - rest), kBlockSize - rest);
  }
  const size_t total = whole + (final ? kBlockSize : 0);
  CallResult result;
  uint32_t error = result.allocate(total) ? begin(Direction::kEncrypt) : win32::kNteNoMemory;
  if (error == 0) error = run(data.first(whole), result.data());
  if (error == 0 && final) error = run(last, result.data() + whole);
  explicit_bzero(last.data(), last.size());
  if (error != 0 || final) finish();
  if (error == 0 && total > 0 && !out->append(result.data(), static_cast<int32_t>(total))) {
    error = win32::kNteNoMemory;
  }
  return error;
}

uint32_t SymmetricKey::decrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out) {
  if (data.size() > INT_MAX / 2) return win32::kNteBadLen;
  if (data.size() % kBlockSize != 0 || (final && data.empty())) return win32::kNteBadData;
  if (data.empty()) return 0;

  CallResult result;
  uint32_t error = result.allocate(data.size()) ? begin(Direction::kDecrypt) : win32::kNteNoMemory;
  if (error == 0) error = run(data, result.data());
  size_t keep = data.size();
  if (error == 0 && final) {
    // PKCS #5 (RFC 8018, 6.1.1, step 4): 1 to 8 bytes, each the pad length.
    const uint8_t* tail = result.data() + data.size() - kBlockSize;
    const uint8_t pad = tail[kBlockSize - 1];
    bool padOk = pad >= 1 && pad <= kBlockSize;
    for (size_t i = kBlockSize - (padOk ? pad : 0); padOk && i < kBlockSize; ++i) {
      padOk = tail[i] == pad;
    }
    if (padOk) {
      keep -= pad;
    } else {
      error = win32::kNteBadData;
    }
  }
  if (error != 0 || final) finish();
  if (error == 0 && keep > 0 && !out->append(result.data(), static_cast<int32_t>(keep))) {
    error = win32::kNteNoMemory;
  }
  return error;
}

}  // namespace quorvant
