// NEON kernels for 64-bit ARM, where NEON is part of the baseline.

#include "imagecodec/rle_kernel_body.h"

#ifdef BRISEL_RLE_NEON
#include <arm_neon.h>

namespace {

struct Neon {
  using Repeated = uint32x4_t;
  static Repeated repeatPixel(uint32_t pixel) { return vdupq_n_u32(pixel); }
  static void storeEightPixels(uint8_t* out, Repeated pixel) {
    vst1q_u8(out, vreinterpretq_u8_u32(pixel));
    vst1q_u8(out + 16, vreinterpretq_u8_u32(pixel));
  }
  static void copyEightPixels(uint8_t* out, const uint8_t* in, Repeated alpha) {
    const uint8x16_t mask = vreinterpretq_u8_u32(alpha);
    vst1q_u8(out, vorrq_u8(vld1q_u8(in), mask));
    vst1q_u8(out + 16, vorrq_u8(vld1q_u8(in + 16), mask));
  }

  static uint32x4_t equalFour(const uint8_t* row, uint32_t x) {
    const uint8_t* at = row + size_t{x} * 4;
    return vceqq_u32(vreinterpretq_u32_u8(vld1q_u8(at)),
                     vreinterpretq_u32_u8(vld1q_u8(at + 4)));
  }
  // One byte per pixel pair from pixel x on, 0xFF where equal, each ANDed
  // with its bit's weight within its group of 8; reads pixels x to x + 16.
  static uint8x16_t equalSixteen(const uint8_t* row, uint32_t x) {
    const uint16x8_t low = vcombine_u16(vmovn_u32(equalFour(row, x)),
                                        vmovn_u32(equalFour(row, x + 4)));
    const uint16x8_t high = vcombine_u16(vmovn_u32(equalFour(row, x + 8)),
                                         vmovn_u32(equalFour(row, x + 12)));
    static const uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                        1, 2, 4, 8, 16, 32, 64, 128};
    return vandq_u8(vcombine_u8(vmovn_u16(low), vmovn_u16(high)),
                    vld1q_u8(weights));
  }
  // NEON has no byte mask instruction: three rounds of pairwise sums fold
  // the 64 weighted bytes into 8, each the mask of 8 pixel pairs in order.
  static MaskWord equalWord(const uint8_t* row, uint32_t x) {
    static_assert(MASK_BITS == 64, "a mask word holds 64 pixel pairs");
    const uint8x16_t a = vpaddq_u8(equalSixteen(row, x),
                                   equalSixteen(row, x + 16));
    const uint8x16_t b = vpaddq_u8(equalSixteen(row, x + 32),
                                   equalSixteen(row, x + 48));
    const uint8x16_t c = vpaddq_u8(a, b);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(c, c)), 0);
  }
};

}  // namespace

extern const RleKernels RLE_KERNELS_NEON = kernelsFor<Neon>("neon");

#endif  // BRISEL_RLE_NEON
