// The choice of kernel set, made once from the processor's features.
//
// x86-64 always has SSE2, and 64-bit ARM always NEON, so there the choice is
// the compiler's. 32-bit x86 may lack SSE2 (processors before 2001), so the
// 32-bit programs ask the processor; without SSE2 they take the plain set,
// which gives the same bytes.

#include "imagecodec/rle_kernels.h"

#if defined(BRISEL_RLE_X86) && defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

#ifdef BRISEL_RLE_X86
bool hasSse2() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__SSE2__)
  return true;
#elif defined(_MSC_VER) && !defined(__clang__)
  int info[4];
  __cpuid(info, 1);
  return (info[3] >> 26 & 1) != 0;
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#endif
}

// AVX2 needs the processor's support and the system's: it must save the
// 256-bit registers on a task switch (XCR0 bits 1 and 2).
bool hasAvx2() {
#if defined(_MSC_VER) && !defined(__clang__)
  int info[4];
  __cpuid(info, 1);
  const bool os_saves_ymm =
      (info[2] >> 27 & 1) != 0 && (_xgetbv(0) & 6) == 6;
  __cpuid(info, 0);
  if (!os_saves_ymm || info[0] < 7) return false;
  __cpuidex(info, 7, 0);
  return (info[1] >> 5 & 1) != 0;
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#endif
}
#endif

struct KernelSets {
  const RleKernels* sets[4];
  size_t count = 0;
};

KernelSets detectKernelSets() {
  KernelSets found;
#ifdef BRISEL_RLE_X86
  if (hasAvx2()) found.sets[found.count++] = &RLE_KERNELS_AVX2;
  if (hasSse2()) found.sets[found.count++] = &RLE_KERNELS_SSE2;
#endif
#ifdef BRISEL_RLE_NEON
  found.sets[found.count++] = &RLE_KERNELS_NEON;
#endif
  found.sets[found.count++] = &RLE_KERNELS_PLAIN;
  return found;
}

const KernelSets& kernelSets() {
  static const KernelSets sets = detectKernelSets();
  return sets;
}

const RleKernels*& kernelsInUse() {
  static const RleKernels* in_use = kernelSets().sets[0];
  return in_use;
}

}  // namespace

const RleKernels* const* rleKernelSets(size_t* count) {
  *count = kernelSets().count;
  return kernelSets().sets;
}

const RleKernels& rleKernels() { return *kernelsInUse(); }

void useRleKernels(const RleKernels& kernels) { kernelsInUse() = &kernels; }
