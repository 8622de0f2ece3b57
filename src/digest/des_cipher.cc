#include "digest/des_cipher.h"

#include <string.h>  // explicit_bzero

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

#include "digest/block_queue.h"
#include "encoding/byte_order.h"

namespace quorvant {
namespace {

// ---------------------------------------------------------------------------
// FIPS 46-3 tables, bits numbered from 1 at the most significant end.

constexpr uint8_t kSboxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                              23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                              41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                              44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// ---------------------------------------------------------------------------
// Working representation.
//
// After the initial permutation each half is held rotated left by 3 bits
// (the classic SP-table layout). Then the six expansion bits feeding S2, S4,
// S6 and S8 sit in the top six bits of the bytes of R, and those of S1, S3,
// S5 and S7 in the top six bits of the bytes of R rotated right by 4. Each
// round key is stored in the same layout (k0 for S1/S3/S5/S7, k1 for the
// others), so E and the key addition cost one rotate and two XORs.
//
// Each table combines an S-box with the permutation P (and the rotation)
// and has 256 entries indexed by a whole byte, the two unused low bits being
// don't-cares: no masking sits on the round's critical path. 8 x 1 KiB.

using SpTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr uint32_t permuteP(uint32_t in) {
  uint32_t out = 0;
  for (int i = 0; i < 32; ++i) {
    if (in & (1u << (32 - kP[i]))) out |= 1u << (31 - i);
  }
  return out;
}

constexpr SpTables makeSpTables() {
  SpTables t{};
  for (int box = 0; box < 8; ++box) {
    for (int byte = 0; byte < 256; ++byte) {
      const int x = byte >> 2;  // six input bits, first expansion bit highest
      const int row = ((x >> 4) & 2) | (x & 1);
      const int col = (x >> 1) & 15;
      const uint32_t placed = static_cast<uint32_t>(kSboxes[box][row][col]) << (28 - 4 * box);
      t[box][byte] = std::rotl(permuteP(placed), 3);
    }
  }
  return t;
}

alignas(64) constexpr SpTables kSp = makeSpTables();

// PC2 by table: each 7-bit slice of C (or D) maps to its contribution to the
// (k0 << 32 | k1) pair of a round key. PC2 draws subkey bits 1-24 from C and
// 25-48 from D only.
using Pc2Tables = std::array<std::array<uint64_t, 128>, 8>;

constexpr uint64_t cookedBit(int subkeyBit) {  // subkeyBit 1..48
  const int box = (subkeyBit - 1) / 6;   // S-box 0..7
  const int pos = (subkeyBit - 1) % 6;   // 0 = first (highest) of the six
  const int byteIndex = 3 - box / 2;     // S1/S2 in the top byte
  const int bit = byteIndex * 8 + 2 + (5 - pos);
  const bool isK0 = (box % 2) == 0;      // S1, S3, S5, S7
  return (isK0 ? (uint64_t{1} << 32) : uint64_t{1}) << bit;
}

constexpr Pc2Tables makePc2Tables() {
  Pc2Tables t{};
  for (int slice = 0; slice < 8; ++slice) {  // 0-3: C, 4-7: D
    for (int v = 0; v < 128; ++v) {
      uint64_t cooked = 0;
      for (int j = 0; j < 7; ++j) {
        if (!(v & (1 << (6 - j)))) continue;
        const int cdBit = slice * 7 + j + 1;  // 1..56 over C then D
        for (int n = 0; n < 48; ++n) {
          if (kPc2[n] == cdBit) cooked |= cookedBit(n + 1);
        }
      }
      t[slice][v] = cooked;
    }
  }
  return t;
}

alignas(64) constexpr Pc2Tables kPc2Tables = makePc2Tables();

inline uint32_t rotl28(uint32_t x, int n) { return ((x << n) | (x >> (28 - n))) & 0x0fffffff; }

// Writes the 16 round keys (k0, k1 pairs) of an 8-byte key, in encryption
// order or reversed for decryption.
void keySchedule(const uint8_t* key, bool decrypt, uint32_t* out) {
  const uint64_t k = (uint64_t{LoadBe32(key)} << 32) | LoadBe32(key + 4);
  uint32_t c = 0, d = 0;
  for (int i = 0; i < 28; ++i) {
    c = (c << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1);
    d = (d << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i + 28])) & 1);
  }
  for (int round = 0; round < 16; ++round) {
    c = rotl28(c, kShifts[round]);
    d = rotl28(d, kShifts[round]);
    const uint64_t cooked =
        kPc2Tables[0][c >> 21] | kPc2Tables[1][(c >> 14) & 0x7f] |
        kPc2Tables[2][(c >> 7) & 0x7f] | kPc2Tables[3][c & 0x7f] |
        kPc2Tables[4][d >> 21] | kPc2Tables[5][(d >> 14) & 0x7f] |
        kPc2Tables[6][(d >> 7) & 0x7f] | kPc2Tables[7][d & 0x7f];
    const int slot = decrypt ? 15 - round : round;
    out[2 * slot] = static_cast<uint32_t>(cooked >> 32);
    out[2 * slot + 1] = static_cast<uint32_t>(cooked);
  }
}

// The initial permutation as the usual network of five bit-group swaps,
// ending in the rotated working layout. The final permutation is its exact
// inverse applied to (R16, L16).
inline void initialPermutation(uint32_t& left, uint32_t& right) {
  uint32_t l = left, r = right, w;
  w = ((l >> 4) ^ r) & 0x0f0f0f0f;
  r ^= w;
  l ^= w << 4;
  w = ((l >> 16) ^ r) & 0x0000ffff;
  r ^= w;
  l ^= w << 16;
  w = ((r >> 2) ^ l) & 0x33333333;
  l ^= w;
  r ^= w << 2;
  w = ((r >> 8) ^ l) & 0x00ff00ff;
  l ^= w;
  r ^= w << 8;
  r = std::rotl(r, 1);
  w = (l ^ r) & 0xaaaaaaaa;
  l ^= w;
  r ^= w;
  left = std::rotl(l, 3);
  right = std::rotl(r, 2);
}

// left/right: the working halves after the last round; out0/out1: the
// cipher block as two big-endian words.
inline void finalPermutation(uint32_t left, uint32_t right, uint32_t& out0, uint32_t& out1) {
  uint32_t l = std::rotr(left, 2), r = std::rotr(right, 3), w;
  w = (l ^ r) & 0xaaaaaaaa;
  l ^= w;
  r ^= w;
  l = std::rotr(l, 1);
  w = ((l >> 8) ^ r) & 0x00ff00ff;
  r ^= w;
  l ^= w << 8;
  w = ((l >> 2) ^ r) & 0x33333333;
  r ^= w;
  l ^= w << 2;
  w = ((r >> 16) ^ l) & 0x0000ffff;
  l ^= w;
  r ^= w << 16;
  w = ((r >> 4) ^ l) & 0x0f0f0f0f;
  l ^= w;
  r ^= w << 4;
  out0 = r;
  out1 = l;
}

// One Feistel round: target ^= f(source, key). The eight lookups are
// combined as a tree so their loads overlap.
#define QV_DES_ROUND(target, source, k0, k1)                                        \
  do {                                                                              \
    const uint32_t u = (source) ^ (k1);                                             \
    const uint32_t t = std::rotr(source, 4) ^ (k0);                                 \
    target ^= ((kSp[1][u >> 24] ^ kSp[3][(u >> 16) & 0xff]) ^                      \
               (kSp[5][(u >> 8) & 0xff] ^ kSp[7][u & 0xff])) ^                      \
              ((kSp[0][t >> 24] ^ kSp[2][(t >> 16) & 0xff]) ^                      \
               (kSp[4][(t >> 8) & 0xff] ^ kSp[6][t & 0xff]));                       \
  } while (0)

[[gnu::always_inline]] inline void sixteenRounds(uint32_t& l, uint32_t& r,
                                                 const uint32_t* ks) {
  for (int i = 0; i < 32; i += 4) {
    QV_DES_ROUND(l, r, ks[i], ks[i + 1]);
    QV_DES_ROUND(r, l, ks[i + 2], ks[i + 3]);
  }
}

#undef QV_DES_ROUND

// CBC over whole blocks. The chaining value is kept in the working layout:
// IP is linear over XOR and IP(FP(x)) is x with its halves swapped, so
// IP(P xor C) = IP(P) xor swap(state) and neither permutation lies on the
// block-to-block dependency chain.
template <bool kTriple>
void cbcEncrypt(const uint32_t (&ks)[3][32], const uint8_t* in, uint8_t* out, size_t blocks,
                uint32_t& chainLeft, uint32_t& chainRight) {
  uint32_t cl = chainLeft, cr = chainRight;
  for (; blocks != 0; --blocks, in += 8, out += 8) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    initialPermutation(l, r);
    l ^= cl;
    r ^= cr;
    sixteenRounds(l, r, ks[0]);
    if constexpr (kTriple) {
      // IP(FP(R16 L16)) feeds the next DES its halves swapped.
      sixteenRounds(r, l, ks[1]);
      sixteenRounds(l, r, ks[2]);
    }
    cl = r;
    cr = l;
    uint32_t o0, o1;
    finalPermutation(l, r, o0, o1);
    StoreBe32(out, o0);
    StoreBe32(out + 4, o1);
  }
  chainLeft = cl;
  chainRight = cr;
}

}  // namespace

DesCipher::~DesCipher() {
  explicit_bzero(schedules_, sizeof(schedules_));
  // key_ and output_ wipe themselves.
}

void DesCipher::setAlgorithm(int32_t algId) {
  algorithm_ = (algId == CALG_3DES || algId == CALG_3DES_112) ? algId : CALG_DES;
}

void DesCipher::setKey(const void* bytes, int32_t length) {
  key_.clear();
  if (bytes != nullptr && length > 0) {
    // On allocation failure no key is kept and encrypt() reports false.
    (void)key_.append(bytes, length);
  }
}

void DesCipher::buildSchedules() {
  const uint8_t* key = key_.data();
  if (algorithm_ == CALG_DES) {
    keySchedule(key, false, schedules_[0]);
    return;
  }
  keySchedule(key, false, schedules_[0]);
  keySchedule(key + 8, true, schedules_[1]);
  if (algorithm_ == CALG_3DES) {
    keySchedule(key + 16, false, schedules_[2]);
  } else {
    std::memcpy(schedules_[2], schedules_[0], sizeof(schedules_[0]));
  }
}

bool DesCipher::encrypt(const void* data, int32_t length) {
  output_.clear();
  if (data == nullptr || length < 1) return false;
  const int32_t keyNeeded =
      algorithm_ == CALG_3DES ? 24 : (algorithm_ == CALG_3DES_112 ? 16 : 8);
  if (key_.size() < keyNeeded) return false;
  const int64_t outLength = (static_cast<int64_t>(length) / 8 + 1) * 8;
  if (outLength > std::numeric_limits<int32_t>::max() - 2) return false;
  if (!output_.allocate(static_cast<int32_t>(outLength))) return false;

  buildSchedules();
  const bool triple = algorithm_ != CALG_DES;
  const auto* in = static_cast<const uint8_t*>(data);
  uint8_t* out = output_.data();
  const size_t whole = static_cast<size_t>(length) / 8;
  const size_t rest = static_cast<size_t>(length) % 8;

  // PKCS #5: 8 - rest bytes of value 8 - rest.
  uint8_t last[8];
  std::memcpy(last, in + whole * 8, rest);
  std::memset(last + rest, static_cast<int>(8 - rest), 8 - rest);

  uint32_t cl = LoadBe32(iv_), cr = LoadBe32(iv_ + 4);
  initialPermutation(cl, cr);
  if (triple) {
    cbcEncrypt<true>(schedules_, in, out, whole, cl, cr);
    cbcEncrypt<true>(schedules_, last, out + whole * 8, 1, cl, cr);
  } else {
    cbcEncrypt<false>(schedules_, in, out, whole, cl, cr);
    cbcEncrypt<false>(schedules_, last, out + whole * 8, 1, cl, cr);
  }
  explicit_bzero(last, sizeof(last));
  return true;
}

}  // namespace quorvant
