// SHA-512 (FIPS 180-4), written here so hashing never depends on which
// cryptographic provider is installed.
#ifndef QUORVANT_DIGEST_SHA512_DIGEST_H_
#define QUORVANT_DIGEST_SHA512_DIGEST_H_

#include <cstddef>
#include <cstdint>

#include "digest/block_queue.h"
#include "digest/compress_functions.h"
#include "digest/cpu_features.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

class Sha512Digest {
 public:
  static constexpr int32_t kDigestLength = 64;
  static constexpr size_t kBlockSize = 128;

  // Uses AVX2 or AVX-512VL (message schedule) and BMI1/BMI2 (rounds) when
  // the processor has them.
  Sha512Digest();

  // Replaces output() with the digest of length bytes at data (data may be
  // null when length is 0). False for a negative length, a null data with a
  // positive length, or when the output cannot be allocated.
  [[nodiscard]] bool digest(const void* data, int32_t length);

  // Incremental form, for input that is not whole in memory: init() clears
  // output() and starts a new message, update() may be called any number of
  // times, finish() appends the digest to output(). Call init() again before
  // the next message.
  void init();
  void update(const void* data, size_t length);
  [[nodiscard]] bool finish();

  const ByteBuffer& output() const { return output_; }

  // False (and no change) when the processor lacks what impl needs.
  bool setImplementation(DigestImplementation impl);
  DigestImplementation implementation() const { return implementation_; }

 private:
  digest_internal::Compress64 compress_;
  DigestImplementation implementation_;
  uint64_t state_[8];
  digest_internal::BlockQueue<kBlockSize> queue_;
  ByteBuffer output_;
};

}  // namespace quorvant

#endif  // QUORVANT_DIGEST_SHA512_DIGEST_H_
