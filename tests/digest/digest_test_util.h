// Helpers shared by the digest and DES tests: hex, deterministic random
// bytes, and OpenSSL as the independent reference implementation.
#ifndef QUORVANT_TESTS_DIGEST_DIGEST_TEST_UTIL_H_
#define QUORVANT_TESTS_DIGEST_DIGEST_TEST_UTIL_H_

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/byte_buffer.h"

namespace quorvant::testing {

inline std::vector<uint8_t> fromHex(std::string_view hex) {
  std::vector<uint8_t> out;
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return static_cast<uint8_t>(c - 'A' + 10);
  };
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  }
  return out;
}

inline std::string toHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}
inline std::string toHex(const std::vector<uint8_t>& v) { return toHex(v.data(), v.size()); }
inline std::string toHex(const ByteBuffer& b) {
  return toHex(b.data(), static_cast<size_t>(b.size()));
}

inline std::vector<uint8_t> randomBytes(std::mt19937_64& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct EvpCipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

inline std::string opensslDigestHex(const EVP_MD* md, const uint8_t* data, size_t n) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outLen = 0;
  if (EVP_Digest(data, n, out, &outLen, md, nullptr) != 1) return "openssl failed";
  return toHex(out, outLen);
}

// CBC encryption with a zero IV and PKCS #5 padding.
inline std::vector<uint8_t> opensslCbcEncrypt(const EVP_CIPHER* cipher, const uint8_t* key,
                                              const uint8_t* data, size_t n) {
  std::unique_ptr<EVP_CIPHER_CTX, EvpCipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  const uint8_t iv[8] = {};
  std::vector<uint8_t> out(n + 16);
  int len1 = 0, len2 = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key, iv) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &len1, data, static_cast<int>(n)) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + len1, &len2) != 1) {
    return {};
  }
  out.resize(static_cast<size_t>(len1 + len2));
  return out;
}

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_DIGEST_DIGEST_TEST_UTIL_H_
