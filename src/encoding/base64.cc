#include "encoding/base64.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>

namespace quorvant {
namespace {

constexpr uint8_t kPad = 64;     // "="
constexpr uint8_t kOther = 65;   // any character outside the table
constexpr uint8_t kSkip = 0xFF;  // CR, LF and space: not significant

// Values 0-63 never have bit 6 or 7 set; kPad, kOther and kSkip all do, so a
// single mask tells whether a group of four can take the fast path.
constexpr uint8_t kNotAlphabet = 0xC0;

constexpr std::array<uint8_t, 256> makeDecodeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kOther;
  for (uint8_t i = 0; i < 65; ++i) t[static_cast<uint8_t>(kBase64Table[i])] = i;
  t['\r'] = kSkip;
  t['\n'] = kSkip;
  t[' '] = kSkip;
  return t;
}

constexpr std::array<uint8_t, 256> kDecodeTable = makeDecodeTable();

// The largest content a ByteBuffer can hold (it adds two terminator bytes to
// a signed 32-bit length).
constexpr int64_t kMaxBufferLength = std::numeric_limits<int32_t>::max() - 2;

// Finds the payload of `text`. Armoured text is recognised by "----"
// anywhere; the marker words are never compared, so any dash-framed pair of
// lines is accepted, but the opening line's dashes must come first or the
// "payload" becomes the opening line's marker word.
bool findPayload(std::string_view text, size_t& begin, size_t& end) {
  constexpr std::string_view kDashes = "----";
  if (text.find(kDashes) == std::string_view::npos) {
    begin = 0;
    end = text.size();
    return true;
  }
  size_t pos = 0;
  while (pos < text.size() && text[pos] == '-') ++pos;
  pos = text.find(kDashes, pos);  // the end of the opening marker line
  if (pos == std::string_view::npos) return false;
  while (pos < text.size() &&
         (text[pos] == '-' || text[pos] == '\r' || text[pos] == '\n')) {
    ++pos;
  }
  const size_t close = text.find(kDashes, pos);  // the closing marker line
  if (close == std::string_view::npos) return false;
  begin = pos;
  end = close;
  return true;
}

// Walks the payload once. With kWrite false it only counts the output bytes,
// so the destination can be allocated exactly once; with kWrite true it
// writes them to `out`, which must hold the count. One routine for both
// passes keeps the two from ever disagreeing.
template <bool kWrite>
size_t decodePayload(const uint8_t* p, const uint8_t* const end, uint8_t* out) {
  size_t n = 0;
  // The next significant value; positions past the payload read as "=".
  auto next = [&p, end]() -> uint8_t {
    while (p < end) {
      const uint8_t v = kDecodeTable[*p++];
      if (v != kSkip) return v;
    }
    return kPad;
  };
  for (;;) {
    // Fast path: a whole group of four alphabet characters in a row.
    while (end - p >= 4) {
      const uint8_t a = kDecodeTable[p[0]];
      const uint8_t b = kDecodeTable[p[1]];
      const uint8_t c = kDecodeTable[p[2]];
      const uint8_t d = kDecodeTable[p[3]];
      if ((a | b | c | d) & kNotAlphabet) break;
      if constexpr (kWrite) {
        out[n] = static_cast<uint8_t>((a << 2) | (b >> 4));
        out[n + 1] = static_cast<uint8_t>((b << 4) | (c >> 2));
        out[n + 2] = static_cast<uint8_t>((c << 6) | d);
      }
      n += 3;
      p += 4;
    }
    // General path: one group with skipped characters, padding, foreign
    // characters or the end of the payload inside it.
    while (p < end && kDecodeTable[*p] == kSkip) ++p;
    if (p == end) break;  // a group starting at the end yields nothing
    const uint8_t a = kDecodeTable[*p++];
    const uint8_t b = next();
    const uint8_t c = next();
    const uint8_t d = next();
    // 8-bit arithmetic throughout: a value 65 yields what the shifts and
    // masks make of it, truncated to a byte.
    if constexpr (kWrite) out[n] = static_cast<uint8_t>((a << 2) ^ ((b >> 4) & 3));
    ++n;
    if (c != kPad) {
      if constexpr (kWrite) out[n] = static_cast<uint8_t>((b << 4) ^ ((c >> 2) & 15));
      ++n;
      if (d != kPad) {
        if constexpr (kWrite) out[n] = static_cast<uint8_t>((c << 6) ^ (d & 63));
        ++n;
      }
    }
  }
  return n;
}

}  // namespace

bool Base64Encode(const void* data, int32_t count, ByteBuffer& out) {
  out.clear();
  if (data == nullptr || count < 1) return false;
  const int64_t outLength = 4 * ((static_cast<int64_t>(count) + 2) / 3);
  if (outLength > kMaxBufferLength) return false;
  if (!out.allocate(static_cast<int32_t>(outLength))) return false;

  const auto* in = static_cast<const uint8_t*>(data);
  uint8_t* o = out.data();
  int32_t i = 0;
  for (; count - i >= 3; i += 3) {
    const uint32_t v = (static_cast<uint32_t>(in[i]) << 16) |
                       (static_cast<uint32_t>(in[i + 1]) << 8) | in[i + 2];
    *o++ = static_cast<uint8_t>(kBase64Table[(v >> 18) & 63]);
    *o++ = static_cast<uint8_t>(kBase64Table[(v >> 12) & 63]);
    *o++ = static_cast<uint8_t>(kBase64Table[(v >> 6) & 63]);
    *o++ = static_cast<uint8_t>(kBase64Table[v & 63]);
  }
  if (const int32_t rest = count - i; rest > 0) {
    const uint32_t v = (static_cast<uint32_t>(in[i]) << 16) |
                       (rest == 2 ? static_cast<uint32_t>(in[i + 1]) << 8 : 0u);
    *o++ = static_cast<uint8_t>(kBase64Table[(v >> 18) & 63]);
    *o++ = static_cast<uint8_t>(kBase64Table[(v >> 12) & 63]);
    *o++ = static_cast<uint8_t>(rest == 2 ? kBase64Table[(v >> 6) & 63] : '=');
    *o++ = '=';
  }
  return true;
}

bool Base64Decode(const char* text, ByteBuffer& out) {
  out.clear();
  if (text == nullptr || *text == '\0') return false;
  const std::string_view all(text, std::strlen(text));
  size_t begin = 0;
  size_t end = 0;
  if (!findPayload(all, begin, end)) return false;

  const auto* p = reinterpret_cast<const uint8_t*>(all.data()) + begin;
  const auto* e = reinterpret_cast<const uint8_t*>(all.data()) + end;
  const size_t length = decodePayload<false>(p, e, nullptr);
  if (length == 0) return true;  // nothing significant: an empty result
  if (length > static_cast<size_t>(kMaxBufferLength)) return false;
  if (!out.allocate(static_cast<int32_t>(length))) return false;
  decodePayload<true>(p, e, out.data());
  return true;
}

}  // namespace quorvant
