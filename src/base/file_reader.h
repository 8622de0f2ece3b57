// Reading a file the caller named, safely: every path is opened without
// blocking (a FIFO without a writer would otherwise wait forever), checked
// on the open descriptor to be a regular file no larger than the caller's
// limit before anything is allocated, and read only up to the size seen
// then, so a file that grows while read costs no more than the limit.
// Directories, devices, FIFOs and sockets are refused unread.
//
// A failure is rc::kFileUnreadable with the Win32 number the engine reports
// in capiErrorCode; callers give it the result code of their operation.
// Paths are OS paths (UTF-8).
#ifndef QUORVANT_BASE_FILE_READER_H_
#define QUORVANT_BASE_FILE_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/file_limits.h"
#include "base/outcome.h"
#include "base/unique_fd.h"

namespace quorvant {

class RegularFile {
 public:
  // ERROR_INVALID_NAME for an empty path; the open's own error (ENOENT ->
  // ERROR_FILE_NOT_FOUND, ...); ERROR_ACCESS_DENIED for a directory, as
  // opening one for reading is refused on Windows; ERROR_HANDLE_EOF for any
  // other file that is not regular, which holds no bytes to read;
  // ERROR_FILE_TOO_LARGE above `maxSize`.
  [[nodiscard]] static Result<RegularFile> Open(const std::string& osPath, size_t maxSize);

  // The size the file had when it was opened.
  size_t size() const { return size_; }

  // Reads the file's first out.size() bytes (at most size()). A file that
  // shrank below them gives ERROR_HANDLE_EOF.
  [[nodiscard]] Outcome readInto(std::span<uint8_t> out);

 private:
  RegularFile(UniqueFd fd, size_t size) : fd_(std::move(fd)), size_(size) {}
  UniqueFd fd_;
  size_t size_ = 0;
};

// The whole file, for contents that hold no secret (certificates, replies,
// scripts): RegularFile::Open, then its size() bytes. An empty file is
// returned empty; ERROR_NOT_ENOUGH_MEMORY when the bytes cannot be held.
[[nodiscard]] Result<std::string> ReadRegularFile(const std::string& osPath, size_t maxSize);

}  // namespace quorvant

#endif  // QUORVANT_BASE_FILE_READER_H_
