#include "digest/sha256_digest.h"

#include <bit>

namespace quorvant {
namespace digest_internal {

// FIPS 180-4, 4.2.2.
alignas(64) extern const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2,
};

namespace {

inline uint32_t bigSigma0(uint32_t x) {
  return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
inline uint32_t bigSigma1(uint32_t x) {
  return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
inline uint32_t smallSigma0(uint32_t x) { return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3); }
inline uint32_t smallSigma1(uint32_t x) {
  return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

}  // namespace

#define QV_SHA256_ROUND(a, b, c, d, e, f, g, h, i, W)                             \
  h += bigSigma1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + kSha256RoundConstants[i] + (W); \
  d += h;                                                                       \
  h += bigSigma0(a) + (((a) & (b)) | ((c) & ((a) | (b))))

#define QV_SHA256_EIGHT(j, W)                     \
  QV_SHA256_ROUND(a, b, c, d, e, f, g, h, j, W(j)); \
  QV_SHA256_ROUND(h, a, b, c, d, e, f, g, j + 1, W(j + 1)); \
  QV_SHA256_ROUND(g, h, a, b, c, d, e, f, j + 2, W(j + 2)); \
  QV_SHA256_ROUND(f, g, h, a, b, c, d, e, j + 3, W(j + 3)); \
  QV_SHA256_ROUND(e, f, g, h, a, b, c, d, j + 4, W(j + 4)); \
  QV_SHA256_ROUND(d, e, f, g, h, a, b, c, j + 5, W(j + 5)); \
  QV_SHA256_ROUND(c, d, e, f, g, h, a, b, j + 6, W(j + 6)); \
  QV_SHA256_ROUND(b, c, d, e, f, g, h, a, j + 7, W(j + 7))

#define QV_SHA256_LOAD(i) (w[i] = LoadBe32(blocks + 4 * (i)))
#define QV_SHA256_EXPAND(i)                                             \
  (w[(i) & 15] += smallSigma1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + \
                  smallSigma0(w[((i) + 1) & 15]))

void sha256CompressPortable(uint32_t* state, const uint8_t* blocks, size_t blockCount) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (; blockCount != 0; --blockCount, blocks += 64) {
    uint32_t w[16];
    QV_SHA256_EIGHT(0, QV_SHA256_LOAD);
    QV_SHA256_EIGHT(8, QV_SHA256_LOAD);
    QV_SHA256_EIGHT(16, QV_SHA256_EXPAND);
    QV_SHA256_EIGHT(24, QV_SHA256_EXPAND);
    QV_SHA256_EIGHT(32, QV_SHA256_EXPAND);
    QV_SHA256_EIGHT(40, QV_SHA256_EXPAND);
    QV_SHA256_EIGHT(48, QV_SHA256_EXPAND);
    QV_SHA256_EIGHT(56, QV_SHA256_EXPAND);
    a = state[0] += a;
    b = state[1] += b;
    c = state[2] += c;
    d = state[3] += d;
    e = state[4] += e;
    f = state[5] += f;
    g = state[6] += g;
    h = state[7] += h;
  }
}

#undef QV_SHA256_ROUND
#undef QV_SHA256_EIGHT
#undef QV_SHA256_LOAD
#undef QV_SHA256_EXPAND

}  // namespace digest_internal

Sha256Digest::Sha256Digest() {
  if (!setImplementation(DigestImplementation::kAccelerated)) {
    setImplementation(DigestImplementation::kPortable);
  }
  init();
}

bool Sha256Digest::setImplementation(DigestImplementation impl) {
  if (impl == DigestImplementation::kAccelerated) {
#if defined(__x86_64__)
    const CpuFeatures& cpu = cpuFeatures();
    if (!cpu.sha || !cpu.sse41 || !cpu.ssse3) return false;
    compress_ = digest_internal::sha256CompressShaNi;
#else
    return false;
#endif
  } else {
    compress_ = digest_internal::sha256CompressPortable;
  }
  implementation_ = impl;
  return true;
}

void Sha256Digest::init() {
  output_.clear();
  queue_.reset();
  // FIPS 180-4, 5.3.3.
  state_[0] = 0x6a09e667;
  state_[1] = 0xbb67ae85;
  state_[2] = 0x3c6ef372;
  state_[3] = 0xa54ff53a;
  state_[4] = 0x510e527f;
  state_[5] = 0x9b05688c;
  state_[6] = 0x1f83d9ab;
  state_[7] = 0x5be0cd19;
}

void Sha256Digest::update(const void* data, size_t length) {
  queue_.update(static_cast<const uint8_t*>(data), length,
                [this](const uint8_t* blocks, size_t n) { compress_(state_, blocks, n); });
}

bool Sha256Digest::finish() {
  queue_.pad<8, true>(
      [this](const uint8_t* blocks, size_t n) { compress_(state_, blocks, n); });
  uint8_t out[kDigestLength];
  for (int i = 0; i < 8; ++i) StoreBe32(out + 4 * i, state_[i]);
  return output_.append(out, kDigestLength);
}

bool Sha256Digest::digest(const void* data, int32_t length) {
  init();
  if (length < 0 || (data == nullptr && length > 0)) return false;
  update(data, static_cast<size_t>(length));
  return finish();
}

}  // namespace quorvant
