// Upper-case hex without separators: digests, thumbprints, serial numbers
// and the caller's symmetric keys cross the interfaces in this form.
#ifndef QUORVANT_ENCODING_HEX_H_
#define QUORVANT_ENCODING_HEX_H_

#include <cstdint>

#include "encoding/byte_buffer.h"

namespace quorvant {

// Clears `out`, then writes two upper-case hex digits per byte, in input
// order. False (and `out` empty) when `data` is absent or `count` < 1.
[[nodiscard]] bool HexEncode(const void* data, int32_t count, ByteBuffer& out);

// Clears `out`, then decodes `text` two characters at a time. Both are
// upper-cased (ASCII letters only); a character x is worth x - 48 below ':'
// and x - 55 otherwise, taking each character as an unsigned byte, and the
// byte is 16 * first + second modulo 256. Characters outside 0-9/A-F are not
// rejected: they give whatever that arithmetic gives.
// False when `text` is absent, empty or of odd length.
[[nodiscard]] bool HexDecode(const char* text, ByteBuffer& out);

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_HEX_H_
