// A DES or Triple-DES session key as the software providers hold one after
// a PLAINTEXTKEYBLOB import: CBC (default) or ECB mode, an 8-byte IV that
// starts as zeros, PKCS #5 padding on the final block.
//
// Encryption and decryption go block by block the way CryptEncrypt and
// CryptDecrypt do: a call that is not final takes whole 8-byte blocks and
// keeps the chaining value for the next call; a final call pads (encrypt) or
// removes and checks the padding (decrypt) and puts the key back to its
// starting IV, ready for the next message.
//
// The cipher is OpenSSL's, fetched from a library context this layer owns
// with the "default" and "legacy" providers (single DES lives in "legacy" in
// OpenSSL 3). Without the legacy module single DES runs as Triple-DES with
// K1 = K2 = K3, which computes the same function (the middle decryption
// undoes the first encryption).
#ifndef QUORVANT_PLATFORM_SYMMETRIC_KEY_H_
#define QUORVANT_PLATFORM_SYMMETRIC_KEY_H_

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "base/openssl.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

class SymmetricKey {
  struct ConstructionToken {};

 public:
  static constexpr size_t kBlockSize = 8;

  // A key of CALG_DES (8 bytes), CALG_3DES_112 (16: K1, K2, K1) or
  // CALG_3DES (24). Returns 0, NTE_BAD_ALGID or NTE_BAD_DATA (wrong length).
  [[nodiscard]] static uint32_t Create(uint32_t algId, std::span<const uint8_t> key,
                                       std::unique_ptr<SymmetricKey>* out);

  // Through Create() only.
  SymmetricKey(ConstructionToken, uint32_t algId, ByteBuffer key);
  SymmetricKey(const SymmetricKey&) = delete;
  SymmetricKey& operator=(const SymmetricKey&) = delete;
  ~SymmetricKey();

  uint32_t algId() const { return algId_; }
  // The key as imported (8, 16 or 24 bytes).
  std::span<const uint8_t> keyBytes() const;

  // KP_IV: exactly 8 bytes, else NTE_BAD_DATA. Starts the next message (a
  // message in progress is abandoned).
  [[nodiscard]] uint32_t setIv(std::span<const uint8_t> iv);
  // KP_MODE: CRYPT_MODE_CBC or CRYPT_MODE_ECB; the feedback modes are not
  // offered (NTE_BAD_DATA).
  [[nodiscard]] uint32_t setMode(uint32_t mode);
  uint32_t mode() const { return mode_; }

  // Appends the result to *out. Not final: `data` must be whole blocks
  // (NTE_BAD_DATA otherwise). Final encryption pads the rest to a whole
  // block (1 to 8 bytes, each holding the pad length); final decryption
  // needs at least one whole block and checks the padding, appending nothing
  // when it is wrong (NTE_BAD_DATA). Switching between encrypting and
  // decrypting mid-message starts over at the IV.
  [[nodiscard]] uint32_t encrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out);
  [[nodiscard]] uint32_t decrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out);

 private:
  enum class Direction { kNone, kEncrypt, kDecrypt };

  // Readies ctx_ for `direction`, starting at the IV unless a message in
  // that direction is under way.
  uint32_t begin(Direction direction);
  // Runs the cipher over `data` into out[0, data.size()).
  uint32_t run(std::span<const uint8_t> data, uint8_t* out);
  void finish() { direction_ = Direction::kNone; }

  const uint32_t algId_;
  // The imported key, and the 24-byte three-key form handed to the cipher.
  ByteBuffer key_;
  ByteBuffer cipherKey_;
  std::array<uint8_t, kBlockSize> iv_{};
  uint32_t mode_;
  Direction direction_ = Direction::kNone;
  OsslPtr<EVP_CIPHER_CTX> ctx_;
};

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_SYMMETRIC_KEY_H_
