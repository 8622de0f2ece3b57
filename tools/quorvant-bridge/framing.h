// The browser's native messaging framing: a 32-bit length in the machine's
// byte order, then that many bytes of UTF-8 JSON, in both directions.
#ifndef QUORVANT_BRIDGE_FRAMING_H_
#define QUORVANT_BRIDGE_FRAMING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvant::bridge {

// The longest message accepted from the browser, checked before any memory
// is taken for it, and the longest the browser accepts from a host.
inline constexpr uint32_t kMaxIncomingFrame = 16u << 20;
inline constexpr size_t kMaxOutgoingFrame = 1u << 20;

enum class FrameStatus {
  kFrame,      // *frame holds one message
  kEnd,        // the input ended between messages: the page is gone
  kTruncated,  // the input ended inside a length or a message
  kTooLarge,   // the length is past kMaxIncomingFrame (*length holds it)
  kReadError,
};

FrameStatus ReadFrame(int fd, std::string* frame, uint32_t* length);
// Writes one message; false when the output is gone.
bool WriteFrame(int fd, std::string_view message);

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_FRAMING_H_
