// Hashing text and files with the component's own digest engines: the
// digest as upper-case hex, whatever provider is installed.
#ifndef QUORVANT_SIGN_HASHING_H_
#define QUORVANT_SIGN_HASHING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "digest/md5_digest.h"
#include "digest/sha1_digest.h"
#include "digest/sha256_digest.h"
#include "digest/sha512_digest.h"
#include "encoding/byte_buffer.h"

namespace quorvant {

enum class HashAlgorithm { kMd5, kSha1, kSha256, kSha512 };

// dwFlags & 7: 1 MD5, 3 SHA-256, 4 SHA-512, anything else SHA-1. Other bits
// are not looked at here.
HashAlgorithm HashAlgorithmFromFlags(int32_t dwFlags);

// The engine for an algorithm chosen at run time, fed incrementally.
class MessageDigest {
 public:
  explicit MessageDigest(HashAlgorithm algorithm);
  void update(const void* data, size_t length);
  // Appends the digest to output().
  [[nodiscard]] bool finish();
  const ByteBuffer& output() const;

 private:
  std::variant<Md5Digest, Sha1Digest, Sha256Digest, Sha512Digest> engine_;
};

// Hashes the file at `osPath` (UTF-8) while reading it, in constant memory,
// so files of any size work. Returns the result code: 0 with *digest set,
// 5902 when nothing exists at the path, 1002 when it cannot be opened or
// read or holds no bytes.
int32_t HashFileContents(const std::string& osPath, HashAlgorithm algorithm,
                         ByteBuffer* digest);

}  // namespace quorvant

#endif  // QUORVANT_SIGN_HASHING_H_
