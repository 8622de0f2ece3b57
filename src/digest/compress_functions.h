// Block compression functions of the digest engines. Each processes
// blockCount consecutive blocks starting at blocks (no alignment required)
// and updates the chaining state in place.
#ifndef QUORVANT_DIGEST_COMPRESS_FUNCTIONS_H_
#define QUORVANT_DIGEST_COMPRESS_FUNCTIONS_H_

#include <cstddef>
#include <cstdint>

namespace quorvant::digest_internal {

using Compress32 = void (*)(uint32_t* state, const uint8_t* blocks, size_t blockCount);
using Compress64 = void (*)(uint64_t* state, const uint8_t* blocks, size_t blockCount);

// FIPS 180-4, 4.2.2; shared by both SHA-256 code paths.
extern const uint32_t kSha256RoundConstants[64];
// FIPS 180-4, 4.2.3.
extern const uint64_t kSha512RoundConstants[80];

void md5Compress(uint32_t* state, const uint8_t* blocks, size_t blockCount);

void sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t blockCount);
void sha256CompressPortable(uint32_t* state, const uint8_t* blocks, size_t blockCount);
void sha512CompressPortable(uint64_t* state, const uint8_t* blocks, size_t blockCount);

#if defined(__x86_64__)
// Accelerated forms; callers check cpuFeatures() before using them.
void sha1CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t blockCount);
void sha256CompressShaNi(uint32_t* state, const uint8_t* blocks, size_t blockCount);
// Two blocks at a time; an odd last block goes to the portable function.
void sha512CompressAvx2(uint64_t* state, const uint8_t* blocks, size_t blockCount);
void sha512CompressAvx512(uint64_t* state, const uint8_t* blocks, size_t blockCount);
#endif

}  // namespace quorvant::digest_internal

#endif  // QUORVANT_DIGEST_COMPRESS_FUNCTIONS_H_
