// AVX2 kernels for x86, chosen at run time where the processor and the
// operating system support them. Only the neighbour comparison gains from
// the wider registers; the decoder's 32-byte stores were slower than SSE2's
// pairs of 16 (bench/PERFORMANCE.md), so this set decodes with SSE2's
// kernel.

#include "imagecodec/rle_kernel_body.h"

#ifdef BRISEL_RLE_X86
#include <immintrin.h>

namespace {

struct Avx2 {
  static __m256i equalEight(const uint8_t* row, uint32_t x) {
    const uint8_t* at = row + size_t{x} * 4;
    return _mm256_cmpeq_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 4)));
  }
  // 32 bits of the mask from pixel x on; reads pixels x to x + 32. The packs
  // work within each 128-bit half, which leaves groups of 4 pixels in the
  // order 0, 2, 4, 6, 1, 3, 5, 7; one permutation puts them back.
  static MaskWord equalThirtyTwo(const uint8_t* row, uint32_t x) {
    const __m256i a =
        _mm256_packs_epi32(equalEight(row, x), equalEight(row, x + 8));
    const __m256i b =
        _mm256_packs_epi32(equalEight(row, x + 16), equalEight(row, x + 24));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_packs_epi16(a, b), order);
    return static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
  }
  static MaskWord equalWord(const uint8_t* row, uint32_t x) {
    MaskWord bits = 0;
    for (uint32_t i = 0; i < MASK_BITS; i += 32) {
      bits |= equalThirtyTwo(row, x + i) << i;
    }
    return bits;
  }
};

}  // namespace

extern const RleKernels RLE_KERNELS_AVX2 = {
    "avx2", encodeRowFor<Avx2>, rowSizeFor<Avx2>, decodeRlePacketsSse2,
    makeOpaqueSse2};

#endif  // BRISEL_RLE_X86
