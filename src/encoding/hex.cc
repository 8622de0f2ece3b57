#include "encoding/hex.h"

#include <cstring>
#include <limits>

namespace quorvant {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(uint8_t x) {
  if (x >= 'a' && x <= 'z') x = static_cast<uint8_t>(x - ('a' - 'A'));
  return x < ':' ? x - 48 : x - 55;
}

}  // namespace

bool HexEncode(const void* data, int32_t count, ByteBuffer& out) {
  out.clear();
  if (data == nullptr || count < 1) return false;
  const int64_t outLength = 2 * static_cast<int64_t>(count);
  if (outLength > std::numeric_limits<int32_t>::max() - 2) return false;
  if (!out.allocate(static_cast<int32_t>(outLength))) return false;
  const auto* in = static_cast<const uint8_t*>(data);
  uint8_t* o = out.data();
  for (int32_t i = 0; i < count; ++i) {
    *o++ = static_cast<uint8_t>(kHexDigits[in[i] >> 4]);
    *o++ = static_cast<uint8_t>(kHexDigits[in[i] & 15]);
  }
  return true;
}

bool HexDecode(const char* text, ByteBuffer& out) {
  out.clear();
  if (text == nullptr) return false;
  const size_t length = std::strlen(text);
  if (length == 0 || length % 2 != 0) return false;
  if (length / 2 > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 2)) {
    return false;
  }
  if (!out.allocate(static_cast<int32_t>(length / 2))) return false;
  const auto* in = reinterpret_cast<const uint8_t*>(text);
  uint8_t* o = out.data();
  for (size_t i = 0; i < length; i += 2) {
    *o++ = static_cast<uint8_t>(16 * hexValue(in[i]) + hexValue(in[i + 1]));
  }
  return true;
}

}  // namespace quorvant
