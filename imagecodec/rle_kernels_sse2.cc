// SSE2 kernels for x86, compiled with SSE2 enabled even where the target's
// baseline lacks it (32-bit x86), and chosen at run time there.

#include "imagecodec/rle_kernel_body.h"

#ifdef BRISEL_RLE_X86
#include <emmintrin.h>

namespace {

struct Sse2 {
  using Repeated = __m128i;
  static Repeated repeatPixel(uint32_t pixel) {
    return _mm_set1_epi32(static_cast<int>(pixel));
  }
  static void storeEightPixels(uint8_t* out, Repeated pixel) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixel);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), pixel);
  }
  static void copyEightPixels(uint8_t* out, const uint8_t* in, Repeated alpha) {
    for (size_t i = 0; i < 32; i += 16) {
      const __m128i four =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_or_si128(four, alpha));
    }
  }

  static __m128i equalFour(const uint8_t* row, uint32_t x) {
    const uint8_t* at = row + size_t{x} * 4;
    return _mm_cmpeq_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 4)));
  }
  // 16 bits of the mask from pixel x on; reads pixels x to x + 16.
  static MaskWord equalSixteen(const uint8_t* row, uint32_t x) {
    const __m128i low =
        _mm_packs_epi32(equalFour(row, x), equalFour(row, x + 4));
    const __m128i high =
        _mm_packs_epi32(equalFour(row, x + 8), equalFour(row, x + 12));
    return static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(low, high)));
  }
  static MaskWord equalWord(const uint8_t* row, uint32_t x) {
    MaskWord bits = 0;
    for (uint32_t i = 0; i < MASK_BITS; i += 16) {
      bits |= equalSixteen(row, x + i) << i;
    }
    return bits;
  }
};

}  // namespace

extern const RleKernels RLE_KERNELS_SSE2 = kernelsFor<Sse2>("sse2");

size_t decodeRlePacketsSse2(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes,
                            uint64_t* out_pos, uint32_t alpha) {
  return decodePacketsFor<Sse2>(stream, size, pixels, pixel_bytes, out_pos,
                                alpha);
}

void makeOpaqueSse2(uint8_t* pixels, uint64_t size) {
  makeOpaqueFor<Sse2>(pixels, size);
}

#endif  // BRISEL_RLE_X86
