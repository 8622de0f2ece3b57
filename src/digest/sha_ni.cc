// SHA-1 and SHA-256 compression with the x86 SHA extensions. Only these
// functions are compiled for SHA/SSE4.1/SSSE3; the engines call them only
// after CPUID has reported the extensions (see cpu_features.h).
#include "digest/compress_functions.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace quorvant::digest_internal {

#define QV_SHA_TARGET [[gnu::target("sha,sse4.1,ssse3")]]

// State words are kept as the instructions want them: ABCD in one register
// (A in the high lane) and E in the high lane of another.

QV_SHA_TARGET void sha1CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t blockCount) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blockCount != 0; --blockCount, blocks += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i msg[4];
    __m128i e1;
    // 20 groups of four rounds. Group i consumes schedule vector W[i]
    // (msg[i % 4]); W[i + 1..3] are completed in stages along the way:
    // msg1 at i - 3, xor at i - 2, msg2 at i - 1 (FIPS 180-4, 6.1.2 step 1).
#pragma GCC unroll 20
    for (int i = 0; i < 20; ++i) {
      __m128i& w = msg[i & 3];
      if (i < 4) {
        w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                             byteSwap);
      }
      __m128i& eCur = (i & 1) ? e1 : e0;
      __m128i& eNext = (i & 1) ? e0 : e1;
      eCur = (i == 0) ? _mm_add_epi32(eCur, w) : _mm_sha1nexte_epu32(eCur, w);
      eNext = abcd;
      if (i >= 3 && i <= 18) msg[(i + 1) & 3] = _mm_sha1msg2_epu32(msg[(i + 1) & 3], w);
      switch (i / 5) {
        case 0: abcd = _mm_sha1rnds4_epu32(abcd, eCur, 0); break;
        case 1: abcd = _mm_sha1rnds4_epu32(abcd, eCur, 1); break;
        case 2: abcd = _mm_sha1rnds4_epu32(abcd, eCur, 2); break;
        default: abcd = _mm_sha1rnds4_epu32(abcd, eCur, 3); break;
      }
      if (i >= 1 && i <= 16) msg[(i - 1) & 3] = _mm_sha1msg1_epu32(msg[(i - 1) & 3], w);
      if (i >= 2 && i <= 17) msg[(i - 2) & 3] = _mm_xor_si128(msg[(i - 2) & 3], w);
    }
    e0 = _mm_sha1nexte_epu32(e0, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }

  abcd = _mm_shuffle_epi32(abcd, 0x1b);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

// The rounds instruction works on the state split as ABEF and CDGH.
QV_SHA_TARGET void sha256CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t blockCount) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));       // DCBA
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));  // HGFE
  tmp = _mm_shuffle_epi32(tmp, 0xb1);                  // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1b);            // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);    // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xf0);         // CDGH

  for (; blockCount != 0; --blockCount, blocks += 64) {
    const __m128i abefSaved = state0;
    const __m128i cdghSaved = state1;
    __m128i msg[4];
    // 16 groups of four rounds; W[i + 1] is finished (msg2) during group i
    // and started (msg1) during group i - 2 (FIPS 180-4, 6.2.2 step 1).
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
      __m128i& w = msg[i & 3];
      if (i < 4) {
        w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                             byteSwap);
      }
      __m128i wk = _mm_add_epi32(
          w, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * i)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, wk);
      if (i >= 3 && i <= 14) {
        __m128i& next = msg[(i + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(w, msg[(i - 1) & 3], 4));
        next = _mm_sha256msg2_epu32(next, w);
      }
      wk = _mm_shuffle_epi32(wk, 0x0e);
      state0 = _mm_sha256rnds2_epu32(state0, state1, wk);
      if (i >= 1 && i <= 12) msg[(i - 1) & 3] = _mm_sha256msg1_epu32(msg[(i - 1) & 3], w);
    }
    state0 = _mm_add_epi32(state0, abefSaved);
    state1 = _mm_add_epi32(state1, cdghSaved);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1b);         // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xb1);      // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xf0);   // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);      // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

#undef QV_SHA_TARGET

}  // namespace quorvant::digest_internal

#endif  // __x86_64__
