// Run-time selection between the portable engines and the ones that use
// x86 instruction-set extensions. The accelerated functions are compiled with
// per-function target attributes, so the library as a whole still runs on any
// x86-64 (or non-x86) processor; CPUID decides at run time which one is used.
#ifndef QUORVANT_DIGEST_CPU_FEATURES_H_
#define QUORVANT_DIGEST_CPU_FEATURES_H_

namespace quorvant {

// Which compression function a digest engine uses. Every engine starts with
// the best one the processor supports; tests force kPortable to cover the
// fallback on machines that would otherwise never run it.
enum class DigestImplementation {
  kPortable,     // plain C++, any processor
  kAccelerated,  // SHA extensions (SHA-1, SHA-256); AVX2 or AVX-512VL (SHA-512)
};

struct CpuFeatures {
  bool sha = false;   // SHA-NI: sha1rnds4, sha256rnds2 and friends
  bool sse41 = false;
  bool ssse3 = false;
  bool bmi1 = false;
  bool bmi2 = false;
  bool avx2 = false;  // includes the operating system's consent (XCR0)
  bool avx512vl = false;  // AVX-512F and VL, with the OS saving opmask/ZMM state
};

// Probed once, on first use; thread-safe.
const CpuFeatures& cpuFeatures();

}  // namespace quorvant

#endif  // QUORVANT_DIGEST_CPU_FEATURES_H_
