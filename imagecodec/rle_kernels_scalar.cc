// The plain kernels: one pair of neighbours at a time, stores through 64-bit
// words. Any processor runs them, and they are what the others are checked
// against.

#include "imagecodec/rle_kernel_body.h"

namespace {

struct Plain {
  using Repeated = uint64_t;
  static Repeated repeatPixel(uint32_t pixel) {
    const uint64_t value = pixel;
    return value << 32 | value;
  }
  static void storeEightPixels(uint8_t* out, Repeated pixel) {
    for (size_t i = 0; i < STORE_BYTES; i += 8) std::memcpy(out + i, &pixel, 8);
  }
  static void copyEightPixels(uint8_t* out, const uint8_t* in, Repeated alpha) {
    for (size_t i = 0; i < STORE_BYTES; i += 8) {
      uint64_t two;
      std::memcpy(&two, in + i, 8);
      two |= alpha;
      std::memcpy(out + i, &two, 8);
    }
  }
  static MaskWord equalWord(const uint8_t* row, uint32_t x) {
    return equalNeighboursPlain(row, x, MASK_BITS);
  }
};

}  // namespace

extern const RleKernels RLE_KERNELS_PLAIN = kernelsFor<Plain>("plain");
