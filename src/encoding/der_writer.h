// Writing DER (X.690 section 10): definite lengths in their shortest form,
// for the structures the component encodes itself (requests, signed data).
#ifndef QUORVANT_ENCODING_DER_WRITER_H_
#define QUORVANT_ENCODING_DER_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace quorvant::der {

inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kNull = 0x05;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kUtcTime = 0x17;
inline constexpr uint8_t kGeneralizedTime = 0x18;
inline constexpr uint8_t kBmpString = 0x1E;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;
inline constexpr uint8_t kContext0 = 0xA0;  // [0], constructed

// The length octets of a content of `length` bytes.
inline void AppendLength(std::vector<uint8_t>& out, size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t octets[sizeof(size_t)];
  int count = 0;
  for (size_t n = length; n != 0; n >>= 8) octets[count++] = static_cast<uint8_t>(n);
  out.push_back(static_cast<uint8_t>(0x80 | count));
  while (count > 0) out.push_back(octets[--count]);
}

// Appends one element, its content given whole.
inline void Append(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> content) {
  out.push_back(tag);
  AppendLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

// One element, its content given whole.
inline std::vector<uint8_t> Element(uint8_t tag, std::span<const uint8_t> content) {
  std::vector<uint8_t> out;
  out.reserve(content.size() + 6);
  Append(out, tag, content);
  return out;
}

// A constructed element over the concatenation of `parts`.
inline std::vector<uint8_t> Constructed(uint8_t tag,
                                        std::initializer_list<std::span<const uint8_t>> parts) {
  size_t total = 0;
  for (const auto& part : parts) total += part.size();
  std::vector<uint8_t> out;
  out.reserve(total + 6);
  out.push_back(tag);
  AppendLength(out, total);
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace quorvant::der

#endif  // QUORVANT_ENCODING_DER_WRITER_H_
