// ByteBuffer: owned bytes with a signed 32-bit length.
//
// Every allocation of n bytes reserves n + 2 zeroed bytes, so the content is
// always followed by two zero bytes: narrow text in a buffer reads as a
// terminated string and UTF-16 text as a terminated wide string.
#ifndef QUORVANT_ENCODING_BYTE_BUFFER_H_
#define QUORVANT_ENCODING_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvant {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = default;
  ByteBuffer& operator=(const ByteBuffer&) = default;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ~ByteBuffer();

  // Drops the old content. n < 1 leaves the buffer empty and returns false;
  // otherwise the content is n zero bytes.
  bool allocate(int32_t n);
  // src absent or n < 1: false and the buffer is unchanged. Otherwise the
  // n bytes are appended.
  bool append(const void* src, int32_t n);
  bool append(std::span<const uint8_t> bytes);
  // The content becomes the n bytes of src in reverse order (little-endian
  // CryptoAPI numbers to big-endian byte strings). n < 1 or src absent: false.
  bool assignReversed(const void* src, int32_t n);
  // Makes room for n bytes of content in all, so appends up to that length
  // do not move the content (and leave no copies of it behind). False when
  // n does not fit or memory runs out; the content is unchanged either way.
  bool reserve(int32_t n);
  // Releases the content; length 0. The memory is wiped first, so a buffer
  // that held key material or a password leaves nothing behind.
  void clear();

  int32_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  // Never null: an empty buffer reads as an empty terminated string.
  const uint8_t* data() const;
  uint8_t* data();
  // The content read as terminated narrow text.
  const char* c_str() const { return reinterpret_cast<const char*>(data()); }
  std::string_view view() const {
    return std::string_view(c_str(), static_cast<size_t>(length_));
  }
  std::span<const uint8_t> bytes() const {
    return std::span<const uint8_t>(data(), static_cast<size_t>(length_));
  }

 private:
  // storage_.size() == length_ + 2 whenever length_ > 0; the two bytes after
  // the content are always zero.
  std::vector<uint8_t> storage_;
  int32_t length_ = 0;
};

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_BYTE_BUFFER_H_
