#include "pfx/pfx_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/file_reader.h"
#include "encoding/code_page.h"
#include "host/system/system_messages.h"
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

bool ReadWholeFile(std::string_view path, ByteBuffer* out, uint32_t* error, size_t maxSize) {
  out->clear();
  *error = 0;
  if (path.empty()) {
    *error = kErrorInvalidName;
    return false;
  }
  Result<RegularFile> file = RegularFile::Open(OsPathFromNarrow(path), maxSize);
  if (!file.ok()) {
    *error = file.outcome().systemError();
    return false;
  }
  if (file->size() == 0) {
    *error = kErrorHandleEof;
    return false;
  }
  if (file->size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 2) ||
      !out->allocate(static_cast<int32_t>(file->size()))) {
    *error = kErrorNotEnoughMemory;
    return false;
  }
  const Outcome read = file->readInto({out->data(), file->size()});
  if (!read.ok()) {
    *error = read.systemError();
    out->clear();
    return false;
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

bool ReplaceWholeFile(std::string_view path, const ByteBuffer& data, const ReadBackCheck& verify,
                      uint32_t* error) {
  *error = 0;
  if (path.empty()) {
    *error = kErrorInvalidName;
    return false;
  }
  std::string target = OsPathFromNarrow(path);
  // The file a link names is replaced, not the link: the user's link keeps
  // pointing at the new contents.
  mode_t mode = 0600;
  struct stat st{};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char* resolved = ::realpath(target.c_str(), nullptr);
      if (resolved == nullptr) {
        *error = LastSystemError();
        return false;
      }
      target = resolved;
      std::free(resolved);
      if (::stat(target.c_str(), &st) != 0) {
        *error = LastSystemError();
        return false;
      }
    }
    if (!S_ISREG(st.st_mode)) {
      *error = S_ISDIR(st.st_mode) ? win32::kErrorAccessDenied : kErrorInvalidName;
      return false;
    }
    mode = st.st_mode & 07777;
  }
  std::string temporary = target + ".XXXXXX";
  std::vector<char> pattern(temporary.begin(), temporary.end());
  pattern.push_back('\0');
  UniqueFd fd(::mkstemp(pattern.data()));
  if (!fd.valid()) {
    *error = LastSystemError();
    return false;
  }
  temporary.assign(pattern.data());
  bool ok = ::fchmod(fd.get(), mode) == 0 &&
            WriteAll(fd.get(), data.data(), static_cast<size_t>(data.size())) &&
            ::fsync(fd.get()) == 0;
  if (!ok) *error = LastSystemError();
  if (ok && verify) {
    // What the disk gives back, not what we meant to write, is checked.
    ByteBuffer readBack;
    if (!readBack.allocate(data.size()) || ::lseek(fd.get(), 0, SEEK_SET) != 0) {
      *error = kErrorNotEnoughMemory;
      ok = false;
    } else {
      size_t done = 0;
      const size_t total = static_cast<size_t>(data.size());
      while (ok && done < total) {
        const ssize_t n = ::read(fd.get(), readBack.data() + done, total - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          *error = n < 0 ? LastSystemError() : kErrorHandleEof;
          ok = false;
        } else {
          done += static_cast<size_t>(n);
        }
      }
      if (ok) {
        if (const uint32_t rejected = verify(readBack)) {
          *error = rejected;
          ok = false;
        }
      }
    }
  }
  fd.reset();
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    *error = LastSystemError();
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    if (*error == 0) *error = win32::kErrorWriteFault;
    return false;
  }
  // The rename itself reaches the disk with the directory.
  const size_t slash = target.rfind('/');
  UniqueFd dir(::open(slash == std::string::npos ? "." : target.substr(0, slash + 1).c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) (void)::fsync(dir.get());
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
