// Shared plumbing of the Merkle-Damgard digests (MD5, SHA-1, SHA-2): the
// partial-block buffer between update() calls and the final padding with
// the message length.
#ifndef QUORVANT_DIGEST_BLOCK_QUEUE_H_
#define QUORVANT_DIGEST_BLOCK_QUEUE_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "encoding/byte_order.h"

namespace quorvant::digest_internal {

// Holds the tail of the message that does not yet fill a block and counts
// the bytes seen. Whole blocks go to the compression function straight from
// the caller's memory; only a straddling block is copied.
//
// The count is 128 bits wide so that SHA-512's length field is exact; the
// 64-bit length fields of MD5, SHA-1 and SHA-256 take the low bits, as
// RFC 1321 and FIPS 180-4 (5.1.1) prescribe.
template <size_t kBlockSize>
class BlockQueue {
 public:
  void reset() {
    fill_ = 0;
    bytesLo_ = 0;
    bytesHi_ = 0;
  }

  // compress(const uint8_t* blocks, size_t blockCount)
  template <typename Compress>
  void update(const uint8_t* in, size_t length, Compress&& compress) {
    if (length == 0) return;
    const uint64_t before = bytesLo_;
    bytesLo_ += length;
    if (bytesLo_ < before) ++bytesHi_;
    if (fill_ != 0) {
      const size_t take = length < kBlockSize - fill_ ? length : kBlockSize - fill_;
      std::memcpy(buffer_ + fill_, in, take);
      fill_ += take;
      in += take;
      length -= take;
      if (fill_ < kBlockSize) return;
      compress(buffer_, 1);
      fill_ = 0;
    }
    const size_t blocks = length / kBlockSize;
    if (blocks != 0) {
      compress(in, blocks);
      in += blocks * kBlockSize;
      length -= blocks * kBlockSize;
    }
    if (length != 0) {
      std::memcpy(buffer_, in, length);
      fill_ = length;
    }
  }

  // Appends 0x80, zeros, and the message length in bits as a kLengthBytes
  // integer (8 or 16) in the given byte order, so that it ends a block.
  template <size_t kLengthBytes, bool kBigEndian, typename Compress>
  void pad(Compress&& compress) {
    static_assert(kLengthBytes == 8 || kLengthBytes == 16);
    const uint64_t bitsLo = bytesLo_ << 3;
    const uint64_t bitsHi = (bytesHi_ << 3) | (bytesLo_ >> 61);
    buffer_[fill_++] = 0x80;
    if (fill_ > kBlockSize - kLengthBytes) {
      std::memset(buffer_ + fill_, 0, kBlockSize - fill_);
      compress(buffer_, 1);
      fill_ = 0;
    }
    std::memset(buffer_ + fill_, 0, kBlockSize - fill_);
    uint8_t* tail = buffer_ + kBlockSize - 8;
    if constexpr (kBigEndian) {
      StoreBe64(tail, bitsLo);
      if constexpr (kLengthBytes == 16) StoreBe64(tail - 8, bitsHi);
    } else {
      StoreLe64(tail, bitsLo);
      static_assert(kLengthBytes == 8, "little-endian length is MD5's 64 bits");
    }
    compress(buffer_, 1);
    fill_ = 0;
  }

 private:
  alignas(16) uint8_t buffer_[kBlockSize];
  size_t fill_ = 0;
  uint64_t bytesLo_ = 0;
  uint64_t bytesHi_ = 0;
};

}  // namespace quorvant::digest_internal

#endif  // QUORVANT_DIGEST_BLOCK_QUEUE_H_
