#include "pfx/pfx_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <vector>

#include "encoding/code_page.h"
#include "host/system_messages.h"
#include "base/unique_fd.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

using win32::kErrorHandleEof;
using win32::kErrorInvalidName;
using win32::kErrorNotEnoughMemory;

uint32_t LastSystemError() { return Win32ErrorFromErrno(errno); }

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string JoinPfxPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (folder.size() > 1) path += '/';
  path.append(name);
  return path;
}

bool ReadWholeFile(std::string_view path, ByteBuffer* out, uint32_t* error) {
  out->clear();
  *error = 0;
  if (path.empty()) {
    *error = kErrorInvalidName;
    return false;
  }
  const std::string osPath = OsPathFromNarrow(path);
  UniqueFd fd(::open(osPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st{};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    *error = LastSystemError();
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    *error = S_ISDIR(st.st_mode) ? 5 : kErrorHandleEof;
    return false;
  }
  if (st.st_size > std::numeric_limits<int32_t>::max() - 2 ||
      !out->allocate(static_cast<int32_t>(st.st_size))) {
    *error = kErrorNotEnoughMemory;
    return false;
  }
  size_t done = 0;
  const size_t total = static_cast<size_t>(st.st_size);
  while (done < total) {
    const ssize_t n = ::read(fd.get(), out->data() + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A file that shrank while being read is as unreadable as a failing one.
      *error = n < 0 ? LastSystemError() : kErrorHandleEof;
      out->clear();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteWholeFile(std::string_view path, const ByteBuffer& data, uint32_t* error) {
  *error = 0;
  if (path.empty()) {
    *error = kErrorInvalidName;
    return false;
  }
  const std::string osPath = OsPathFromNarrow(path);
  std::string temporary = osPath + ".XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  // mkstemp creates the file 0600: read and write for the owner only.
  UniqueFd fd(::mkstemp(pattern.data()));
  if (!fd.valid()) {
    *error = LastSystemError();
    return false;
  }
  temporary.assign(pattern.data());
  const bool written = WriteAll(fd.get(), data.data(), static_cast<size_t>(data.size())) &&
                       ::fsync(fd.get()) == 0;
  if (!written) *error = LastSystemError();
  fd.reset();
  if (!written || ::rename(temporary.c_str(), osPath.c_str()) != 0) {
    if (*error == 0) *error = LastSystemError();
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool DeleteWholeFile(std::string_view path, uint32_t* error) {
  *error = 0;
  if (path.empty()) {
    *error = kErrorInvalidName;
    return false;
  }
  if (::unlink(OsPathFromNarrow(path).c_str()) != 0) {
    *error = LastSystemError();
    return false;
  }
  return true;
}

}  // namespace quorvant
