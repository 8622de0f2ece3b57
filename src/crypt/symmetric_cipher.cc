#include "crypt/symmetric_cipher.h"

#include <cstring>
#include <span>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

constexpr int32_t kBlock = 8;

}  // namespace

SymmetricCipher::SymmetricCipher() = default;

SymmetricCipher::~SymmetricCipher() { release(); }

void SymmetricCipher::setAlgorithm(int32_t algId) {
  algorithm_ = (algId == CALG_3DES || algId == CALG_3DES_112) ? algId : CALG_DES;
}

void SymmetricCipher::setMode(int32_t mode) {
  mode_ = (mode >= static_cast<int32_t>(kCryptModeCbc) && mode <= static_cast<int32_t>(kCryptModeCfb))
              ? mode
              : static_cast<int32_t>(kCryptModeCbc);
}

void SymmetricCipher::setKey(const void* bytes, int32_t length) {
  if (bytes == nullptr || length < 1) return;
  keyBytes_.clear();
  (void)keyBytes_.append(bytes, length);
}

void SymmetricCipher::release() {
  key_.reset();
  provider_.reset();
}

bool SymmetricCipher::fail(uint32_t error) {
  lastError_ = error;
  output_.clear();
  release();
  return false;
}

bool SymmetricCipher::setUp() {
  release();
  if (const uint32_t error = ProviderContext::Acquire(
          std::string_view(), kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext, &provider_)) {
    return fail(error);
  }
  ByteBuffer blob;
  if (const uint32_t error =
          EncodePlaintextKeyBlob(static_cast<uint32_t>(algorithm_), keyBytes_.bytes(), &blob)) {
    return fail(error);
  }
  if (const uint32_t error = provider_->importKey(blob.bytes(), 0, &key_)) return fail(error);
  const uint8_t mode[4] = {static_cast<uint8_t>(mode_), 0, 0, 0};
  if (const uint32_t error = key_->setParam(kKpIv, iv_)) return fail(error);
  if (const uint32_t error = key_->setParam(kKpMode, mode)) return fail(error);
  return true;
}

bool SymmetricCipher::encrypt(const void* data, int32_t n) {
  output_.clear();
  if (data == nullptr || n < 1) return false;
  if (!setUp()) return false;
  // One allocation for the whole ciphertext, however many calls fill it.
  if (!output_.reserve(n - n % kBlock + kBlock)) return fail(win32::kNteNoMemory);
  const auto* in = static_cast<const uint8_t*>(data);
  const int32_t whole = n - n % kBlock;
  for (int32_t at = 0; at < whole; at += kBlock) {
    if (const uint32_t error = key_->encrypt(std::span(in + at, kBlock), false, &output_)) {
      return fail(error);
    }
  }
  uint8_t last[kBlock] = {};
  const int32_t rest = n - whole;
  if (rest > 0) std::memcpy(last, in + whole, static_cast<size_t>(rest));
  const uint32_t error =
      key_->encrypt(std::span<const uint8_t>(last, static_cast<size_t>(rest)), true, &output_);
  explicit_bzero(last, sizeof last);
  if (error != 0) return fail(error);
  release();
  return true;
}

bool SymmetricCipher::decrypt(const void* data, int32_t n) {
  output_.clear();
  if (data == nullptr || n < 1) return false;
  if (n % kBlock != 0) return fail(win32::kNteBadData);
  if (!setUp()) return false;
  if (!output_.reserve(n)) return fail(win32::kNteNoMemory);
  const auto* in = static_cast<const uint8_t*>(data);
  for (int32_t at = 0; at + kBlock < n; at += kBlock) {
    if (const uint32_t error = key_->decrypt(std::span(in + at, kBlock), false, &output_)) {
      return fail(error);
    }
  }
  if (const uint32_t error = key_->decrypt(std::span(in + n - kBlock, kBlock), true, &output_)) {
    return fail(error);
  }
  release();
  return true;
}

}  // namespace quorvant
