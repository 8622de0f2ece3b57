// SHA-512 compression (FIPS 180-4, 6.4.2) for x86-64 processors with AVX2
// (or AVX-512VL) and BMI1/BMI2: message schedule in vector registers, two
// blocks at a time, rounds in the integer registers with rorx and andn. Only
// these functions are compiled for those extensions; the engine calls them
// only after CPUID has reported them.
#include "digest/compress_functions.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <bit>

namespace quorvant::digest_internal {
namespace {

inline uint64_t bigSigma0(uint64_t x) {
  return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39);
}
inline uint64_t bigSigma1(uint64_t x) {
  return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41);
}

// W + K was stored by the vector unit; adding it straight from memory keeps
// the compiler from moving it across with vpextrq, which would take integer
// issue slots the rounds need.
inline void addFromMemory(uint64_t& h, const uint64_t& m) {
  __asm__("addq %1, %0" : "+r"(h) : "m"(m) : "cc");
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i roundConstantPair(int t) {
  return _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(kSha512RoundConstants + t)));
}

// Ordered for a short dependency chain through e: the terms that do not
// need Sigma1(e) go into h first, so d + h is ready one addition after
// Sigma1. Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and a ^ b carries over as
// the next round's b ^ c. lane 0 reads the first block's W + K, lane 2 the
// second's (see the layout of wk).
#define QV_ROUND(a, b, c, d, e, f, g, h, i, lane)                   \
  {                                                                 \
    addFromMemory(h, wk[((i) & ~1) * 2 + ((i) & 1) + (lane)]);      \
    h += (e) & (f);                                                 \
    h += ~(e) & (g);                                                \
    h += bigSigma1(e);                                              \
    d += h;                                                         \
    const uint64_t ab = (a) ^ (b);                                  \
    h += bigSigma0(a);                                              \
    h += (b) ^ (ab & bc);                                           \
    bc = ab;                                                        \
  }

#define QV_EIGHT(t, lane)                            \
  QV_ROUND(a, b, c, d, e, f, g, h, (t), lane);       \
  QV_ROUND(h, a, b, c, d, e, f, g, (t) + 1, lane);   \
  QV_ROUND(g, h, a, b, c, d, e, f, (t) + 2, lane);   \
  QV_ROUND(f, g, h, a, b, c, d, e, (t) + 3, lane);   \
  QV_ROUND(e, f, g, h, a, b, c, d, (t) + 4, lane);   \
  QV_ROUND(d, e, f, g, h, a, b, c, (t) + 5, lane);   \
  QV_ROUND(c, d, e, f, g, h, a, b, (t) + 6, lane);   \
  QV_ROUND(b, c, d, e, f, g, h, a, (t) + 7, lane)

}  // namespace

// AVX2 has no 64-bit rotate: two shifts and an OR.
#define QV_TARGET gnu::target("avx2,bmi,bmi2")
#define QV_NAME sha512CompressAvx2
#define QV_PAIR_NAME compressPairAvx2
#define QV_ROR(x, n) _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - (n)))
#define QV_XOR3(a, b, c) _mm256_xor_si256(_mm256_xor_si256(a, b), c)
#include "digest/sha512_x86_body.inc"
#undef QV_TARGET
#undef QV_NAME
#undef QV_PAIR_NAME
#undef QV_ROR
#undef QV_XOR3

// AVX-512VL: one-instruction rotates and three-way XOR (vpternlogq 0x96).
#define QV_TARGET gnu::target("avx2,avx512f,avx512vl,bmi,bmi2")
#define QV_NAME sha512CompressAvx512
#define QV_PAIR_NAME compressPairAvx512
#define QV_ROR(x, n) _mm256_ror_epi64(x, n)
#define QV_XOR3(a, b, c) _mm256_ternarylogic_epi64(a, b, c, 0x96)
#include "digest/sha512_x86_body.inc"
#undef QV_TARGET
#undef QV_NAME
#undef QV_PAIR_NAME
#undef QV_ROR
#undef QV_XOR3

#undef QV_ROUND
#undef QV_EIGHT

}  // namespace quorvant::digest_internal

#endif  // __x86_64__
