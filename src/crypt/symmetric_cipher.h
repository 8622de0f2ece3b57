// SymmetricCipher: DES and Triple-DES with a caller's raw key, through a
// provider's session key the way the component has always driven it: a
// PLAINTEXTKEYBLOB import, the all-zero IV, CBC, and one CryptEncrypt or
// CryptDecrypt call per 8-byte block with the last block final (PKCS #5
// padding). The ciphertext equals DesCipher's for the same algorithm and key.
//
// The context is a verification context: a caller's key needs no key
// container, so nothing is created or read on disk.
#ifndef QUORVANT_CRYPT_SYMMETRIC_CIPHER_H_
#define QUORVANT_CRYPT_SYMMETRIC_CIPHER_H_

#include <array>
#include <cstdint>
#include <memory>

#include "digest/calg_ids.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

class CryptKey;
class ProviderContext;

class SymmetricCipher {
 public:
  SymmetricCipher();
  // Releases key and provider; the key copy and the output are wiped.
  ~SymmetricCipher();
  SymmetricCipher(const SymmetricCipher&) = delete;
  SymmetricCipher& operator=(const SymmetricCipher&) = delete;

  // CALG_3DES and CALG_3DES_112 are kept; anything else means CALG_DES.
  void setAlgorithm(int32_t algId);
  int32_t algorithm() const { return algorithm_; }
  // Provider cipher modes 1 (CBC) to 4 (CFB); anything else means CBC. Only
  // CBC and ECB are offered by the provider: the others fail at set-up.
  void setMode(int32_t mode);
  int32_t mode() const { return mode_; }
  // Keeps a copy of the key; null bytes or length < 1 leave the old one.
  void setKey(const void* bytes, int32_t length);

  // Replace output() with the ciphertext of the n bytes at data. False for
  // null data or n < 1, or when a provider call fails (lastError() holds its
  // system error).
  [[nodiscard]] bool encrypt(const void* data, int32_t n);
  // Replace output() with the plaintext. Every block but the last goes
  // through a non-final call, the last through the final one, which checks
  // and removes the padding. A final block whose padding is wrong (a wrong
  // key, damaged text) fails the decryption with NTE_BAD_DATA and an empty
  // output, and so does a length that is not a whole number of blocks:
  // such bytes are no plaintext, and handing them back as one would hide
  // the failure from the caller.
  [[nodiscard]] bool decrypt(const void* data, int32_t n);

  const ByteBuffer& output() const { return output_; }
  uint32_t lastError() const { return lastError_; }

 private:
  // Acquire the provider, import the key, set IV and mode.
  bool setUp();
  void release();
  bool fail(uint32_t error);

  ByteBuffer output_;
  int32_t mode_ = 1;
  int32_t algorithm_ = CALG_DES;
  uint32_t lastError_ = 0;
  std::unique_ptr<ProviderContext> provider_;
  std::unique_ptr<CryptKey> key_;
  std::array<uint8_t, 8> iv_{};
  ByteBuffer keyBytes_;
};

}  // namespace quorvant

#endif  // QUORVANT_CRYPT_SYMMETRIC_CIPHER_H_
