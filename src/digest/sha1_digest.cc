#include "digest/sha1_digest.h"

#include <bit>

namespace quorvant {
namespace digest_internal {

// FIPS 180-4, 6.1.2, with the 16-word rolling message schedule.
#define QV_SHA1_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define QV_SHA1_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define QV_SHA1_MAJ(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))

#define QV_SHA1_LOAD(i) w[i] = LoadBe32(blocks + 4 * (i))
#define QV_SHA1_EXPAND(i)                                                   \
  w[(i) & 15] = std::rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^          \
                              w[((i) + 2) & 15] ^ w[(i) & 15],              \
                          1)

#define QV_SHA1_ROUND(F, k, a, b, c, d, e, i)                  \
  e += std::rotl(a, 5) + F(b, c, d) + w[(i) & 15] + (k);       \
  b = std::rotl(b, 30)

#define QV_SHA1_FIVE(F, k, i, PREP)                            \
  PREP(i);                                                     \
  QV_SHA1_ROUND(F, k, a, b, c, d, e, i);                       \
  PREP((i) + 1);                                               \
  QV_SHA1_ROUND(F, k, e, a, b, c, d, (i) + 1);                 \
  PREP((i) + 2);                                               \
  QV_SHA1_ROUND(F, k, d, e, a, b, c, (i) + 2);                 \
  PREP((i) + 3);                                               \
  QV_SHA1_ROUND(F, k, c, d, e, a, b, (i) + 3);                 \
  PREP((i) + 4);                                               \
  QV_SHA1_ROUND(F, k, b, c, d, e, a, (i) + 4)

void sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t blockCount) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; blockCount != 0; --blockCount, blocks += 64) {
    uint32_t w[16];
    const uint32_t aa = a, bb = b, cc = c, dd = d, ee = e;
    QV_SHA1_FIVE(QV_SHA1_CH, 0x5a827999u, 0, QV_SHA1_LOAD);
    QV_SHA1_FIVE(QV_SHA1_CH, 0x5a827999u, 5, QV_SHA1_LOAD);
    QV_SHA1_FIVE(QV_SHA1_CH, 0x5a827999u, 10, QV_SHA1_LOAD);
    QV_SHA1_LOAD(15);
    QV_SHA1_ROUND(QV_SHA1_CH, 0x5a827999u, a, b, c, d, e, 15);
    QV_SHA1_EXPAND(16);
    QV_SHA1_ROUND(QV_SHA1_CH, 0x5a827999u, e, a, b, c, d, 16);
    QV_SHA1_EXPAND(17);
    QV_SHA1_ROUND(QV_SHA1_CH, 0x5a827999u, d, e, a, b, c, 17);
    QV_SHA1_EXPAND(18);
    QV_SHA1_ROUND(QV_SHA1_CH, 0x5a827999u, c, d, e, a, b, 18);
    QV_SHA1_EXPAND(19);
    QV_SHA1_ROUND(QV_SHA1_CH, 0x5a827999u, b, c, d, e, a, 19);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0x6ed9eba1u, 20, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0x6ed9eba1u, 25, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0x6ed9eba1u, 30, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0x6ed9eba1u, 35, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_MAJ, 0x8f1bbcdcu, 40, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_MAJ, 0x8f1bbcdcu, 45, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_MAJ, 0x8f1bbcdcu, 50, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_MAJ, 0x8f1bbcdcu, 55, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0xca62c1d6u, 60, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0xca62c1d6u, 65, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0xca62c1d6u, 70, QV_SHA1_EXPAND);
    QV_SHA1_FIVE(QV_SHA1_PARITY, 0xca62c1d6u, 75, QV_SHA1_EXPAND);
    a += aa;
    b += bb;
    c += cc;
    d += dd;
    e += ee;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

#undef QV_SHA1_CH
#undef QV_SHA1_PARITY
#undef QV_SHA1_MAJ
#undef QV_SHA1_LOAD
#undef QV_SHA1_EXPAND
#undef QV_SHA1_ROUND
#undef QV_SHA1_FIVE

}  // namespace digest_internal

Sha1Digest::Sha1Digest() {
  if (!setImplementation(DigestImplementation::kAccelerated)) {
    setImplementation(DigestImplementation::kPortable);
  }
  init();
}

bool Sha1Digest::setImplementation(DigestImplementation impl) {
  if (impl == DigestImplementation::kAccelerated) {
#if defined(__x86_64__)
    const CpuFeatures& cpu = cpuFeatures();
    if (!cpu.sha || !cpu.sse41 || !cpu.ssse3) return false;
    compress_ = digest_internal::sha1CompressShaNi;
#else
    return false;
#endif
  } else {
    compress_ = digest_internal::sha1CompressPortable;
  }
  implementation_ = impl;
  return true;
}

void Sha1Digest::init() {
  output_.clear();
  queue_.reset();
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  state_[4] = 0xc3d2e1f0;
}

void Sha1Digest::update(const void* data, size_t length) {
  queue_.update(static_cast<const uint8_t*>(data), length,
                [this](const uint8_t* blocks, size_t n) { compress_(state_, blocks, n); });
}

bool Sha1Digest::finish() {
  queue_.pad<8, true>(
      [this](const uint8_t* blocks, size_t n) { compress_(state_, blocks, n); });
  uint8_t out[kDigestLength];
  for (int i = 0; i < 5; ++i) StoreBe32(out + 4 * i, state_[i]);
  return output_.append(out, kDigestLength);
}

bool Sha1Digest::digest(const void* data, int32_t length) {
  init();
  if (length < 0 || (data == nullptr && length > 0)) return false;
  update(data, static_cast<size_t>(length));
  return finish();
}

}  // namespace quorvant
