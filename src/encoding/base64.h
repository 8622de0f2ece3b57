// Base64 (RFC 4648 section 4 alphabet) as the component writes and reads it:
// one line, no armour on output; a lenient reader on input.
#ifndef QUORVANT_ENCODING_BASE64_H_
#define QUORVANT_ENCODING_BASE64_H_

#include <cstdint>

#include "encoding/byte_buffer.h"

namespace quorvant {

// The 65-character table: indexes 0-63 are the alphabet, 64 is the padding
// character "=". The decoder maps every other character to 65.
inline constexpr char kBase64Table[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Clears `out`, then writes the Base64 text of the `count` bytes at `data`,
// padded with "=", without line breaks. False (and `out` empty) when `data`
// is absent, `count` < 1 or the text would not fit a ByteBuffer.
[[nodiscard]] bool Base64Encode(const void* data, int32_t count, ByteBuffer& out);

// Clears `out`, then decodes the terminated text `text`.
//
// The reader never rejects a character. A text containing "----" is taken
// as armoured: it must begin with the dashes of its opening marker line, and
// the payload runs from after that line to the next "----"; the marker words
// are not compared. CR, LF and space are skipped anywhere in the payload,
// missing trailing characters count as "=", and any character outside the
// table decodes with the value 65 through the usual 8-bit arithmetic.
//
// False when `text` is absent or empty, when an armour is not closed, or
// when the result would not fit a ByteBuffer. A payload with no significant
// characters decodes to an empty buffer and true.
[[nodiscard]] bool Base64Decode(const char* text, ByteBuffer& out);

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_BASE64_H_
