#include "encoding/byte_buffer.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace quorvant {
namespace {

constexpr uint8_t kEmpty[2] = {0, 0};

// The two terminating zero bytes must fit in the signed 32-bit length domain
// the rest of the system works in.
void wipe(std::vector<uint8_t>& v) {
  if (!v.empty()) explicit_bzero(v.data(), v.size());
}

bool fitsWithTerminator(int64_t n) {
  return n <= std::numeric_limits<int32_t>::max() - 2;
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : storage_(std::move(other.storage_)), length_(other.length_) {
  other.storage_.clear();
  other.length_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    clear();
    storage_ = std::move(other.storage_);
    length_ = other.length_;
    other.storage_.clear();
    other.length_ = 0;
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { clear(); }

const uint8_t* ByteBuffer::data() const {
  return storage_.empty() ? kEmpty : storage_.data();
}

uint8_t* ByteBuffer::data() {
  // Writing through an empty buffer is never meaningful; hand out the
  // storage only when there is some.
  return storage_.empty() ? nullptr : storage_.data();
}

bool ByteBuffer::allocate(int32_t n) {
  clear();
  if (n < 1 || !fitsWithTerminator(n)) return false;
  try {
    storage_.assign(static_cast<size_t>(n) + 2, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  length_ = n;
  return true;
}

bool ByteBuffer::append(const void* src, int32_t n) {
  if (src == nullptr || n < 1) return false;
  const int64_t newLength = static_cast<int64_t>(length_) + n;
  if (!fitsWithTerminator(newLength)) return false;
  const size_t needed = static_cast<size_t>(newLength) + 2;
  try {
    if (needed > storage_.capacity()) {
      // Grow by hand so the old block can be wiped before it is released.
      std::vector<uint8_t> grown;
      grown.reserve(std::max(needed, storage_.capacity() * 2));
      grown.assign(storage_.begin(), storage_.end());
      wipe(storage_);
      storage_.swap(grown);
    }
    // Anything past the old content was zero and resize() zero-fills the
    // rest, so the terminator stays intact.
    storage_.resize(needed, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(storage_.data() + length_, src, static_cast<size_t>(n));
  length_ = static_cast<int32_t>(newLength);
  return true;
}

bool ByteBuffer::reserve(int32_t n) {
  if (n < 1 || !fitsWithTerminator(n)) return false;
  const size_t needed = static_cast<size_t>(n) + 2;
  if (needed <= storage_.capacity()) return true;
  try {
    std::vector<uint8_t> grown;
    grown.reserve(needed);
    grown.assign(storage_.begin(), storage_.end());
    wipe(storage_);
    storage_.swap(grown);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ByteBuffer::append(std::span<const uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  return append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

bool ByteBuffer::assignReversed(const void* src, int32_t n) {
  if (src == nullptr || n < 1) return false;
  if (!allocate(n)) return false;
  const auto* in = static_cast<const uint8_t*>(src);
  for (int32_t i = 0; i < n; ++i) storage_[static_cast<size_t>(i)] = in[n - 1 - i];
  return true;
}

void ByteBuffer::clear() {
  wipe(storage_);
  storage_.clear();
  storage_.shrink_to_fit();
  length_ = 0;
}

}  // namespace quorvant
