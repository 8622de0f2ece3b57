// DES (FIPS 46-3) and Triple DES EDE (ANSI X9.52 / NIST SP 800-67)
// encryption in CBC mode (FIPS 81) with PKCS #5 padding, written here so the
// exported data does not depend on which cryptographic provider is installed.
#ifndef QUORVANT_DIGEST_DES_CIPHER_H_
#define QUORVANT_DIGEST_DES_CIPHER_H_

#include <cstdint>

#include "digest/calg_ids.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

class DesCipher {
 public:
  DesCipher() = default;
  // Wipes the key copy, the key schedules and the output.
  ~DesCipher();
  DesCipher(const DesCipher&) = delete;
  DesCipher& operator=(const DesCipher&) = delete;

  // CALG_3DES and CALG_3DES_112 are kept; anything else means CALG_DES.
  void setAlgorithm(int32_t algId);
  int32_t algorithm() const { return algorithm_; }

  // Replaces the key copy (the old one is wiped). Null bytes or length < 1
  // leave no key. The algorithm reads 8 (DES), 16 (CALG_3DES_112: K1 K2) or
  // 24 (CALG_3DES: K1 K2 K3) bytes; parity bits are ignored.
  void setKey(const void* bytes, int32_t length);

  // Replaces output() with the CBC encryption of length bytes at data,
  // starting from the all-zero IV and padded per PKCS #5 to the next multiple
  // of 8 (always 1 to 8 pad bytes). False with an empty output when data is
  // null, length < 1, the key is shorter than the algorithm needs, or memory
  // runs out.
  [[nodiscard]] bool encrypt(const void* data, int32_t length);

  const ByteBuffer& output() const { return output_; }

 private:
  void buildSchedules();

  ByteBuffer output_;
  // Always CBC (CryptoAPI's CRYPT_MODE_CBC = 1); kept for parity with the
  // provider-backed cipher, never consulted.
  [[maybe_unused]] int32_t mode_ = 1;
  int32_t algorithm_ = CALG_DES;
  ByteBuffer key_;  // ByteBuffer wipes its memory when released
  uint8_t iv_[8] = {};
  // Round subkeys in the layout of the round function: [0] encrypts with K1,
  // [1] decrypts with K2, [2] encrypts with K3.
  uint32_t schedules_[3][32] = {};
};

}  // namespace quorvant

#endif  // QUORVANT_DIGEST_DES_CIPHER_H_
