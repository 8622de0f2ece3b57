// HexDecode over arbitrary text: never a crash, exactly one byte per pair of
// characters, and hex text written by HexEncode reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoding/hex.h"

namespace {

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quorvant::ByteBuffer;
  if (size > (1u << 20)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t length = std::strlen(text.c_str());  // the text ends at a NUL

  ByteBuffer out;
  const bool ok = quorvant::HexDecode(text.c_str(), out);
  if (ok != (length > 0 && length % 2 == 0)) std::abort();
  if (ok && out.size() != static_cast<int32_t>(length / 2)) std::abort();
  if (!ok && !out.empty()) std::abort();

  // Valid hex of either case comes back upper-cased.
  bool allHex = ok;
  for (size_t i = 0; allHex && i < length; ++i) allHex = isHexDigit(text[i]);
  if (allHex) {
    ByteBuffer again;
    if (!quorvant::HexEncode(out.data(), out.size(), again)) std::abort();
    for (size_t i = 0; i < length; ++i) {
      if (again.c_str()[i] != upper(text[i])) std::abort();
    }
  }

  if (size > 0) {
    ByteBuffer encoded;
    ByteBuffer decoded;
    if (!quorvant::HexEncode(data, static_cast<int32_t>(size), encoded) ||
        !quorvant::HexDecode(encoded.c_str(), decoded) ||
        decoded.size() != static_cast<int32_t>(size) ||
        std::memcmp(decoded.data(), data, size) != 0) {
      std::abort();
    }
  }
  return 0;
}
