#include "digest/md5_digest.h"

#include <bit>

#include "digest/compress_functions.h"

namespace quorvant {
namespace digest_internal {
namespace {

// RFC 1321, 3.4. G is written as a sum of two disjoint bit sets so its two
// halves evaluate in parallel; I uses the usual c ^ (b | ~d) form.
#define QV_MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define QV_MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define QV_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

#define QV_MD5_STEP(F, a, b, c, d, x, t, s) \
  a += F(b, c, d) + (x) + (t);              \
  a = std::rotl(a, s) + (b)

#define QV_MD5_STEP_G(a, b, c, d, x, t, s)          \
  a += ((d) & (b)) + (x) + (t) + (~(d) & (c));      \
  a = std::rotl(a, s) + (b)

}  // namespace

void md5Compress(uint32_t* state, const uint8_t* blocks, size_t blockCount) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blockCount != 0; --blockCount, blocks += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLe32(blocks + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    QV_MD5_STEP(QV_MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
    QV_MD5_STEP(QV_MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
    QV_MD5_STEP(QV_MD5_F, c, d, a, b, x[2], 0x242070db, 17);
    QV_MD5_STEP(QV_MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
    QV_MD5_STEP(QV_MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
    QV_MD5_STEP(QV_MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
    QV_MD5_STEP(QV_MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
    QV_MD5_STEP(QV_MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
    QV_MD5_STEP(QV_MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
    QV_MD5_STEP(QV_MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
    QV_MD5_STEP(QV_MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
    QV_MD5_STEP(QV_MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
    QV_MD5_STEP(QV_MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
    QV_MD5_STEP(QV_MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
    QV_MD5_STEP(QV_MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
    QV_MD5_STEP(QV_MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

    QV_MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5);
    QV_MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9);
    QV_MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14);
    QV_MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    QV_MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5);
    QV_MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9);
    QV_MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14);
    QV_MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    QV_MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5);
    QV_MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9);
    QV_MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14);
    QV_MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20);
    QV_MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5);
    QV_MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
    QV_MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14);
    QV_MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    QV_MD5_STEP(QV_MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
    QV_MD5_STEP(QV_MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
    QV_MD5_STEP(QV_MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
    QV_MD5_STEP(QV_MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
    QV_MD5_STEP(QV_MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
    QV_MD5_STEP(QV_MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    QV_MD5_STEP(QV_MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    QV_MD5_STEP(QV_MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
    QV_MD5_STEP(QV_MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
    QV_MD5_STEP(QV_MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
    QV_MD5_STEP(QV_MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
    QV_MD5_STEP(QV_MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
    QV_MD5_STEP(QV_MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
    QV_MD5_STEP(QV_MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
    QV_MD5_STEP(QV_MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    QV_MD5_STEP(QV_MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

    QV_MD5_STEP(QV_MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
    QV_MD5_STEP(QV_MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
    QV_MD5_STEP(QV_MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
    QV_MD5_STEP(QV_MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
    QV_MD5_STEP(QV_MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
    QV_MD5_STEP(QV_MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    QV_MD5_STEP(QV_MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
    QV_MD5_STEP(QV_MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
    QV_MD5_STEP(QV_MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    QV_MD5_STEP(QV_MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    QV_MD5_STEP(QV_MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
    QV_MD5_STEP(QV_MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
    QV_MD5_STEP(QV_MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
    QV_MD5_STEP(QV_MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
    QV_MD5_STEP(QV_MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    QV_MD5_STEP(QV_MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef QV_MD5_F
#undef QV_MD5_H
#undef QV_MD5_I
#undef QV_MD5_STEP
#undef QV_MD5_STEP_G

}  // namespace digest_internal

void Md5Digest::init() {
  output_.clear();
  queue_.reset();
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
}

void Md5Digest::update(const void* data, size_t length) {
  queue_.update(static_cast<const uint8_t*>(data), length,
                [this](const uint8_t* blocks, size_t n) {
                  digest_internal::md5Compress(state_, blocks, n);
                });
}

bool Md5Digest::finish() {
  queue_.pad<8, false>([this](const uint8_t* blocks, size_t n) {
    digest_internal::md5Compress(state_, blocks, n);
  });
  uint8_t out[kDigestLength];
  for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, state_[i]);
  return output_.append(out, kDigestLength);
}

bool Md5Digest::digest(const void* data, int32_t length) {
  init();
  if (length < 0 || (data == nullptr && length > 0)) return false;
  update(data, static_cast<size_t>(length));
  return finish();
}

}  // namespace quorvant
