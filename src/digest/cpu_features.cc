#include "digest/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace quorvant {
namespace {

CpuFeatures probe() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return f;
  const unsigned maxLeaf = eax;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return f;
  f.ssse3 = (ecx & (1u << 9)) != 0;
  f.sse41 = (ecx & (1u << 19)) != 0;
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  bool ymmEnabled = false;
  bool zmmEnabled = false;
  if (osxsave && avx) {
    // XCR0 bits 1 and 2: the OS saves SSE and AVX state on context switch;
    // bits 5-7: opmask and ZMM state.
    unsigned xcr0Lo = 0, xcr0Hi = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Lo), "=d"(xcr0Hi) : "c"(0));
    ymmEnabled = (xcr0Lo & 0x6u) == 0x6u;
    zmmEnabled = ymmEnabled && (xcr0Lo & 0xe0u) == 0xe0u;
  }
  if (maxLeaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    f.bmi1 = (ebx & (1u << 3)) != 0;
    f.avx2 = ymmEnabled && (ebx & (1u << 5)) != 0;
    f.bmi2 = (ebx & (1u << 8)) != 0;
    f.sha = (ebx & (1u << 29)) != 0;
    f.avx512vl = zmmEnabled && (ebx & (1u << 16)) != 0 && (ebx & (1u << 31)) != 0;
  }
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = probe();
  return features;
}

}  // namespace quorvant
