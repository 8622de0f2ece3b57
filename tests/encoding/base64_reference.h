// A deliberately plain, character-at-a-time transcription of the component's
// lenient Base64 reader, kept apart from the optimised one in
// src/encoding/base64.cc. The tests and the fuzzer compare the two on
// arbitrary text, so neither can drift from the documented behaviour alone.
#ifndef QUORVANT_TESTS_ENCODING_BASE64_REFERENCE_H_
#define QUORVANT_TESTS_ENCODING_BASE64_REFERENCE_H_

#include <cstdint>
#include <cstring>
#include <vector>

namespace quorvant::test_support {

inline bool ReferenceBase64Decode(const char* text, std::vector<uint8_t>& out) {
  static const char kTable[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  out.clear();
  if (text == nullptr || text[0] == '\0') return false;

  const char* begin = text;
  const char* end = text + std::strlen(text);
  if (std::strstr(text, "----") != nullptr) {
    const char* p = text;
    while (*p == '-') ++p;
    p = std::strstr(p, "----");
    if (p == nullptr) return false;
    while (*p == '-' || *p == '\r' || *p == '\n') ++p;
    const char* close = std::strstr(p, "----");
    if (close == nullptr) return false;
    begin = p;
    end = close;
  }

  auto isSkipped = [](char c) { return c == '\r' || c == '\n' || c == ' '; };
  const char* pos = begin;
  auto nextValue = [&]() -> uint8_t {
    while (pos < end && isSkipped(*pos)) ++pos;
    if (pos >= end) return 64;
    const char c = *pos++;
    const void* hit = std::memchr(kTable, c, 65);
    return hit == nullptr ? 65 : static_cast<uint8_t>(static_cast<const char*>(hit) - kTable);
  };

  while (pos < end) {
    while (pos < end && isSkipped(*pos)) ++pos;
    if (pos >= end) break;
    const uint8_t a = nextValue();
    const uint8_t b = nextValue();
    const uint8_t c = nextValue();
    const uint8_t d = nextValue();
    out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(a << 2) ^ ((b >> 4) & 3)));
    if (c != 64) {
      out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(b << 4) ^ ((c >> 2) & 15)));
      if (d != 64) {
        out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(c << 6) ^ (d & 63)));
      }
    }
  }
  return true;
}

}  // namespace quorvant::test_support

#endif  // QUORVANT_TESTS_ENCODING_BASE64_REFERENCE_H_
