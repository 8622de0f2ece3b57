#include "base/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "base/win32_from_errno.h"

namespace quorvant {
namespace {

Outcome Unreadable(uint32_t systemError) {
  return Outcome::Fail(rc::kFileUnreadable, systemError);
}

}  // namespace

Result<RegularFile> RegularFile::Open(const std::string& osPath, size_t maxSize) {
  if (osPath.empty()) return Unreadable(win32::kErrorInvalidName);
  // O_NONBLOCK makes the open of a FIFO return at once; the descriptor of a
  // regular file reads the same with it. O_NOCTTY: a terminal named here
  // never becomes the process's controlling terminal.
  UniqueFd fd(::open(osPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return Unreadable(Win32ErrorFromErrno(errno));
  // The descriptor, not the path: what was opened is what is checked.
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return Unreadable(Win32ErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return Unreadable(win32::kErrorAccessDenied);
  if (!S_ISREG(st.st_mode)) return Unreadable(win32::kErrorHandleEof);
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxSize) {
    return Unreadable(win32::kErrorFileTooLarge);
  }
  return RegularFile(std::move(fd), static_cast<size_t>(st.st_size));
}

Outcome RegularFile::readInto(std::span<uint8_t> out) {
  if (out.size() > size_) return Unreadable(win32::kErrorInvalidParameter);
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd_.get(), out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unreadable(Win32ErrorFromErrno(errno));
    // A file that shrank while being read is as unreadable as a failing one.
    if (n == 0) return Unreadable(win32::kErrorHandleEof);
    done += static_cast<size_t>(n);
  }
  return Outcome::Ok();
}

Result<std::string> ReadRegularFile(const std::string& osPath, size_t maxSize) {
  Result<RegularFile> file = RegularFile::Open(osPath, maxSize);
  if (!file.ok()) return file.outcome();
  std::string bytes;
  try {
    bytes.resize(file->size());
  } catch (const std::bad_alloc&) {
    return Unreadable(win32::kErrorNotEnoughMemory);
  }
  const Outcome read =
      file->readInto({reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()});
  if (!read.ok()) return read;
  return bytes;
}

}  // namespace quorvant
