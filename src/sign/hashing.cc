#include "sign/hashing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

#include "base/result_codes.h"
#include "base/unique_fd.h"

namespace quorvant {
namespace {

// Large enough that the digest, not the system calls, sets the pace; small
// enough to keep the memory of a hash of any file constant.
constexpr size_t kReadChunk = size_t{1} << 20;

}  // namespace

HashAlgorithm HashAlgorithmFromFlags(int32_t dwFlags) {
  switch (dwFlags & 7) {
    case 1:
      return HashAlgorithm::kMd5;
    case 3:
      return HashAlgorithm::kSha256;
    case 4:
      return HashAlgorithm::kSha512;
    default:
      return HashAlgorithm::kSha1;
  }
}

MessageDigest::MessageDigest(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kMd5:
      engine_.emplace<Md5Digest>();
      break;
    case HashAlgorithm::kSha1:
      engine_.emplace<Sha1Digest>();
      break;
    case HashAlgorithm::kSha256:
      engine_.emplace<Sha256Digest>();
      break;
    case HashAlgorithm::kSha512:
      engine_.emplace<Sha512Digest>();
      break;
  }
  std::visit([](auto& e) { e.init(); }, engine_);
}

void MessageDigest::update(const void* data, size_t length) {
  std::visit([&](auto& e) { e.update(data, length); }, engine_);
}

bool MessageDigest::finish() {
  return std::visit([](auto& e) { return e.finish(); }, engine_);
}

const ByteBuffer& MessageDigest::output() const {
  return std::visit([](const auto& e) -> const ByteBuffer& { return e.output(); }, engine_);
}

int32_t HashFileContents(const std::string& osPath, HashAlgorithm algorithm,
                         ByteBuffer* digest) {
  digest->clear();
  struct stat st{};
  if (::stat(osPath.c_str(), &st) != 0) return rc::kFileNotFound;

  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer that may never come; a regular file reads the same either way.
  UniqueFd fd(::open(osPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return rc::kFileUnreadable;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    return rc::kFileUnreadable;
  }
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  std::unique_ptr<uint8_t[]> chunk;
  try {
    chunk = std::make_unique_for_overwrite<uint8_t[]>(kReadChunk);
  } catch (const std::bad_alloc&) {
    return rc::kAllocationFailed;
  }
  MessageDigest engine(algorithm);
  uint64_t total = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.get(), kReadChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return rc::kFileUnreadable;
    }
    if (n == 0) break;
    engine.update(chunk.get(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
  }
  // A file emptied between the size check and the read holds no bytes.
  if (total == 0) return rc::kFileUnreadable;
  if (!engine.finish() || !digest->append(engine.output().bytes())) {
    return rc::kAllocationFailed;
  }
  return rc::kSuccess;
}

}  // namespace quorvant
