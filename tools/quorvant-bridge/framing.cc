#include "framing.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace quorvant::bridge {
namespace {

// Reads exactly `size` bytes; the count actually read when the input ends
// first, -1 on an error.
ssize_t ReadFully(int fd, char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

FrameStatus ReadFrame(int fd, std::string* frame, uint32_t* length) {
  char header[4];
  const ssize_t got = ReadFully(fd, header, sizeof header);
  if (got < 0) return FrameStatus::kReadError;
  if (got == 0) return FrameStatus::kEnd;
  if (got < static_cast<ssize_t>(sizeof header)) return FrameStatus::kTruncated;
  std::memcpy(length, header, sizeof header);
  if (*length > kMaxIncomingFrame) return FrameStatus::kTooLarge;
  frame->resize(*length);
  const ssize_t body = ReadFully(fd, frame->data(), *length);
  if (body < 0) return FrameStatus::kReadError;
  if (static_cast<size_t>(body) < *length) return FrameStatus::kTruncated;
  return FrameStatus::kFrame;
}

bool WriteFrame(int fd, std::string_view message) {
  const uint32_t length = static_cast<uint32_t>(message.size());
  std::string out(sizeof length + message.size(), '\0');
  std::memcpy(out.data(), &length, sizeof length);
  std::memcpy(out.data() + sizeof length, message.data(), message.size());
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace quorvant::bridge
