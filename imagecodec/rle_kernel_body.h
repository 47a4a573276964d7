// The body of every kernel set, written once over the few operations that
// differ between instruction sets. Each rle_kernels_*.cc includes it,
// supplies those operations as a struct (`Isa` below) and is compiled with
// its set's flags, so that the whole body, its fixed-size copies included,
// is compiled for that set. Everything here has internal linkage: a copy
// compiled for one set must never stand in for another's.
//
// An Isa provides, for the encoder:
//   MaskWord equalWord(const uint8_t* row, uint32_t x);
//     bit i set when pixel x + i equals pixel x + i + 1, for i below
//     MASK_BITS; reads pixels x to x + MASK_BITS;
// and for the decoder:
//   using Repeated;                         a pixel repeated across a register
//   Repeated repeatPixel(uint32_t);         the pixel's 4 bytes as loadPixel
//                                           gives them
//   void storeEightPixels(uint8_t*, Repeated);   32 bytes, unaligned
//   void copyEightPixels(uint8_t* out, const uint8_t* in, Repeated alpha);
//     32 bytes, unaligned, each pixel ORed with `alpha`
//
// Masks and counters are of the native word width: on a 32-bit processor a
// 64-bit mask word takes a pair of registers and every shift and scan on it
// several instructions.

#ifndef BRISEL_IMAGECODEC_RLE_KERNEL_BODY_H
#define BRISEL_IMAGECODEC_RLE_KERNEL_BODY_H

#include <cstring>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

using MaskWord = size_t;
constexpr uint32_t MASK_BITS = sizeof(MaskWord) * 8;

inline uint32_t loadPixel(const uint8_t* row, uint32_t x) {
  uint32_t value;
  std::memcpy(&value, row + size_t{x} * 4, 4);
  return value;
}

// The index of the lowest set bit; `bits` is not zero.
inline uint32_t lowestBit(MaskWord bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
#if defined(_M_X64) || defined(_M_ARM64)
  _BitScanForward64(&index, bits);
#else
  _BitScanForward(&index, bits);
#endif
  return index;
#else
  return sizeof(MaskWord) == 8 ? static_cast<uint32_t>(__builtin_ctzll(bits))
                               : static_cast<uint32_t>(__builtin_ctz(
                                     static_cast<unsigned>(bits)));
#endif
}

// Bits [0, count) of a mask word for pixels from `from` on, compared one
// pair at a time; count is at most MASK_BITS and pixel from + count exists.
inline MaskWord equalNeighboursPlain(const uint8_t* row, uint32_t from,
                                     uint32_t count) {
  MaskWord bits = 0;
  uint32_t pixel = loadPixel(row, from);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t next = loadPixel(row, from + i + 1);
    bits |= MaskWord{pixel == next} << i;
    pixel = next;
  }
  return bits;
}

}  // namespace

#include "imagecodec/rle_decode_body.h"
#include "imagecodec/rle_encode_body.h"

namespace {

// Sets the alpha byte of every pixel, 8 pixels to a store, then the rest one
// at a time. The 32-bit x86 programs' baseline has no vector registers, so
// a plain loop there would take a byte at a time.
template <class Isa>
void makeOpaqueFor(uint8_t* pixels, uint64_t size) {
  const uint8_t alpha_bytes[4] = {0, 0, 0, 0xFF};
  const uint32_t alpha = loadPixel(alpha_bytes, 0);
  const typename Isa::Repeated alpha_wide = Isa::repeatPixel(alpha);
  uint8_t* const end = pixels + (size & ~uint64_t{3});
  uint8_t* p = pixels;
  for (; end - p >= 32; p += 32) Isa::copyEightPixels(p, p, alpha_wide);
  for (; p != end; p += 4) {
    const uint32_t pixel = loadPixel(p, 0) | alpha;
    std::memcpy(p, &pixel, 4);
  }
}

// The table entry for one instruction set.
template <class Isa>
constexpr RleKernels kernelsFor(const char* name) {
  return {name, encodeRowFor<Isa>, rowSizeFor<Isa>, decodePacketsFor<Isa>,
          makeOpaqueFor<Isa>};
}

}  // namespace

#endif  // BRISEL_IMAGECODEC_RLE_KERNEL_BODY_H
