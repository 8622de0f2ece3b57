// MD5 (RFC 1321), written here so hashing never depends on which
// cryptographic provider is installed.
#ifndef QUORVANT_DIGEST_MD5_DIGEST_H_
#define QUORVANT_DIGEST_MD5_DIGEST_H_

#include <cstddef>
#include <cstdint>

#include "digest/block_queue.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

class Md5Digest {
 public:
  static constexpr int32_t kDigestLength = 16;
  static constexpr size_t kBlockSize = 64;

  Md5Digest() { init(); }

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

 private:
  uint32_t state_[4];
  digest_internal::BlockQueue<kBlockSize> queue_;
  ByteBuffer output_;
};

}  // namespace quorvant

#endif  // QUORVANT_DIGEST_MD5_DIGEST_H_
