#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "base/result_codes.h"
#include "base/unique_fd.h"  // header only
#include "results.h"

namespace quorvant::cli {
namespace {

std::string TooLarge(size_t limit) {
  return std::string(std::strerror(EFBIG)) + " (more than " + std::to_string(limit) + " bytes)";
}

// Standard input to its end, refusing more than `limit` bytes: a stream of
// unknown length (a pipe, a terminal, /dev/zero) costs at most the limit.
// Through std::cin (password lines are read from the descriptor itself, so
// nothing of the text is taken in before).
std::optional<std::string> ReadStandardInput(size_t limit, std::string* why) {
  // A redirected file is judged as a named one would be, before any read.
  struct stat st{};
  if (::fstat(STDIN_FILENO, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *why = std::strerror(EISDIR);
      return std::nullopt;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0 && static_cast<uint64_t>(st.st_size) > limit) {
      *why = TooLarge(limit);
      return std::nullopt;
    }
  }
  std::string bytes;
  char chunk[65536];
  while (std::cin) {
    std::cin.read(chunk, sizeof chunk);
    const size_t n = static_cast<size_t>(std::cin.gcount());
    if (n > limit - bytes.size()) {
      *why = TooLarge(limit);
      return std::nullopt;
    }
    bytes.append(chunk, n);
  }
  if (std::cin.bad()) {
    *why = std::strerror(errno != 0 ? errno : EIO);
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> ReadFile(const std::string& path, size_t limit, std::string* why) {
  // O_NONBLOCK: a FIFO without a writer opens at once instead of waiting.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st{};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    *why = std::strerror(errno);
    return std::nullopt;
  }
  if (S_ISDIR(st.st_mode)) {
    *why = std::strerror(EISDIR);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    return std::nullopt;
  }
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > limit) {
    *why = TooLarge(limit);
    return std::nullopt;
  }
  // The size seen now, no more: a file that grows while read stops there.
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) {
      *why = "the file shrank while it was read";
      return std::nullopt;
    }
    done += static_cast<size_t>(n);
  }
  return bytes;
}

}  // namespace

std::optional<std::string> ReadInput(const std::optional<std::string>& path, size_t limit,
                                     std::string* why) {
  try {
    if (!path) return ReadStandardInput(limit, why);
    return ReadFile(*path, limit, why);
  } catch (const std::bad_alloc&) {
    *why = std::strerror(ENOMEM);
    return std::nullopt;
  }
}

int InputFailure(const std::optional<std::string>& path, const std::string& why) {
  std::fprintf(stderr, "quorvant: cannot read %s: %s\n",
               path ? path->c_str() : "standard input", why.c_str());
  std::printf("result: %d %s\n", rc::kFileUnreadable, ResultMessage(rc::kFileUnreadable).c_str());
  return 1;
}

}  // namespace quorvant::cli
