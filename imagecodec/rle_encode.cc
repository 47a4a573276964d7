// Run-length packet encoding.
//
// The packets written are fixed to the byte, so that one input gives the same
// output file everywhere:
//
//   - Rows are encoded one at a time; no packet crosses the end of a row.
//   - A span of L equal pixels (equal in all four bytes) becomes L / 128 run
//     packets of 128 pixels, then one run packet of the L % 128 pixels left
//     when that is 2 or more. A single pixel left over after those packets,
//     like any pixel without an equal right-hand neighbour, is raw.
//   - Raw pixels gather into raw packets of at most 121 pixels: the 121st
//     pending pixel flushes the packet at once. Pending raw pixels are flushed
//     before a run packet, so packets come in pixel order.
//
// Pending raw pixels are always contiguous in the row, so a raw packet is
// copied straight from the row; nothing is staged.
//
// How it is fast: a first pass over the row sets bit x of a mask when pixel x
// equals pixel x + 1, comparing 16 neighbours at a time with SSE2 where the
// CPU has it (the x86-64 baseline) and one pair at a time elsewhere. A span of
// equal pixels [start, end) is then a stretch of set bits from start to
// end - 2, whose two edges are read off mask ^ (mask << 1) with a bit scan
// each; the pixels between spans are raw. A raw stretch of up to 8 pixels is
// written as one fixed 32-byte copy and a run of up to 128 as one header and
// one pixel store, so the common packets cost no loop and no branch on their
// length; longer ones take the general path. Both paths give the same bytes.

#include <cstring>

#include "imagecodec/rle_paths.h"
#include "imagecodec/tga_image.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define BRISEL_RLE_SSE2 1
#endif
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace {

// A row has at most 65535 pixels.
constexpr size_t MASK_WORDS = 65536 / 64;
// Raw stretches up to this many pixels are copied with one fixed-size store.
constexpr uint32_t SHORT_RAW_PIXELS = 8;

uint32_t loadPixel(const uint8_t* row, uint32_t x) {
  uint32_t value;
  std::memcpy(&value, row + size_t{x} * 4, 4);
  return value;
}

// The index of the lowest set bit; `bits` is not zero.
uint32_t lowestBit(uint64_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  if (static_cast<uint32_t>(bits) != 0) {
    _BitScanForward(&index, static_cast<uint32_t>(bits));
    return index;
  }
  _BitScanForward(&index, static_cast<uint32_t>(bits >> 32));
  return index + 32;
#else
  return static_cast<uint32_t>(__builtin_ctzll(bits));
#endif
}

// Bits [from, from + count) of the mask for pixels from `from` on, compared
// one pair at a time; count is at most 64 and pixel from + count exists.
uint64_t equalNeighboursPlain(const uint8_t* row, uint32_t from,
                              uint32_t count) {
  uint64_t bits = 0;
  uint32_t pixel = loadPixel(row, from);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t next = loadPixel(row, from + i + 1);
    bits |= uint64_t{pixel == next} << i;
    pixel = next;
  }
  return bits;
}

#ifdef BRISEL_RLE_SSE2
__m128i equalFour(const uint8_t* row, uint32_t x) {
  const uint8_t* at = row + size_t{x} * 4;
  return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                         _mm_loadu_si128(
                             reinterpret_cast<const __m128i*>(at + 4)));
}

// 16 bits of the mask from pixel x on; reads pixels x to x + 16.
uint64_t equalSixteen(const uint8_t* row, uint32_t x) {
  const __m128i low = _mm_packs_epi32(equalFour(row, x), equalFour(row, x + 4));
  const __m128i high =
      _mm_packs_epi32(equalFour(row, x + 8), equalFour(row, x + 12));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}
#endif

// Fills mask[0 .. (width - 1) / 64]: bit x set when pixel x equals pixel
// x + 1, every other bit clear (the last pixel has no neighbour to equal).
template <bool kSimd>
void equalNeighbourMask(const uint8_t* row, uint32_t width, uint64_t* mask) {
  const uint32_t pairs = width > 0 ? width - 1 : 0;
  uint32_t x = 0;
#ifdef BRISEL_RLE_SSE2
  if (kSimd) {
    for (; x + 64 <= pairs; x += 64) {
      mask[x / 64] = equalSixteen(row, x) | equalSixteen(row, x + 16) << 16 |
                     equalSixteen(row, x + 32) << 32 |
                     equalSixteen(row, x + 48) << 48;
    }
  }
#endif
  for (; x + 64 <= pairs; x += 64) {
    mask[x / 64] = equalNeighboursPlain(row, x, 64);
  }
  if (x < width) {
    mask[x / 64] = pairs > x ? equalNeighboursPlain(row, x, pairs - x) : 0;
  }
}

// Appends raw packets for the pixels [first, end) of the row: as many packets
// of 121 as fit, then one of the rest. Returns the bytes (only counting when
// kWrite is false, where `out` may be null).
//
// Pixels are copied in blocks of 8 where the row has that many left, which
// is faster than a copy of exactly the packet's size; only a packet within 8
// pixels of the row's end is copied exactly.
template <bool kWrite>
size_t emitRawPixels(const uint8_t* row, uint32_t first, uint32_t end,
                     uint32_t width, uint8_t* out) {
  const uint32_t count = end - first;
  if (!kWrite) {
    return size_t{count} * 4 +
           (count + RLE_MAX_RAW_PIXELS - 1) / RLE_MAX_RAW_PIXELS;
  }
  size_t at = 0;
  for (uint32_t x = first; x < end; x += RLE_MAX_RAW_PIXELS) {
    uint32_t n = end - x < RLE_MAX_RAW_PIXELS ? end - x : RLE_MAX_RAW_PIXELS;
    out[at] = static_cast<uint8_t>(n - 1);
    const uint8_t* src = row + size_t{x} * 4;
    uint8_t* dst = out + at + 1;
    if (width - x >= (n + 7) / 8 * 8) {
      for (uint32_t i = 0; i < n; i += SHORT_RAW_PIXELS) {
        std::memcpy(dst + i * 4, src + i * 4, SHORT_RAW_PIXELS * 4);
      }
    } else {
      std::memcpy(dst, src, size_t{n} * 4);
    }
    at += 1 + size_t{n} * 4;
  }
  return at;
}

// Appends the run packets for a span of `length` (2 or more) copies of the
// pixel at `pixel`: full packets of 128, then one of the rest when that is 2
// or more. A single pixel left over is the caller's, as a raw pixel.
template <bool kWrite>
size_t emitRuns(const uint8_t* pixel, uint32_t length, uint8_t* out) {
  const uint32_t packets = length / RLE_MAX_RUN_PIXELS +
                           (length % RLE_MAX_RUN_PIXELS >= 2 ? 1 : 0);
  if (kWrite) {
    uint32_t left = length;
    for (uint32_t i = 0; i < packets; ++i) {
      uint32_t n = left < RLE_MAX_RUN_PIXELS ? left : RLE_MAX_RUN_PIXELS;
      out[i * 5] = static_cast<uint8_t>(RLE_FLAG + n - 1);
      std::memcpy(out + i * 5 + 1, pixel, 4);
      left -= n;
    }
  }
  return size_t{packets} * 5;
}

// Pixels from the end of one span to the start of the next are raw.
//
// A span [start, end) shows in the mask as set bits start to end - 2, so it
// starts where a bit is set after a clear one and its last pixel is where a
// bit is clear after a set one: the set bits of mask ^ (mask << 1) take
// turns marking starts and last pixels. They are taken lowest first from a
// register, so finding the next one waits on nothing but the one before.
//
// Fixed-size stores write past the packet they hold, into room the next
// packets overwrite, but never past width * 5 bytes: the packets for the
// first x pixels take at most 5 * x bytes, so a raw packet of n pixels
// started at pixel x, copied in blocks of 8 pixels rounded up to m <= width - x,
// writes at most 5 * x + 1 + 4 * m <= 5 * width bytes; a run packet is only
// ever 2 or more pixels from the end.
template <bool kWrite>
size_t encodeSpans(const uint8_t* row, uint32_t width, const uint64_t* mask,
                   uint8_t* out) {
  size_t size = 0;
  uint32_t raw_start = 0;  // raw pixels [raw_start, start) are pending
  uint32_t start = 0;
  bool in_span = false;
  for (uint32_t word = 0; word * 64 < width; ++word) {
    const uint64_t equal = mask[word];
    uint64_t edges = equal ^ (equal << 1 | uint64_t{in_span});
    while (edges != 0) {
      const uint32_t x = word * 64 + lowestBit(edges);
      edges &= edges - 1;
      in_span = !in_span;
      if (in_span) {
        start = x;
        continue;
      }
      const uint32_t end = x + 1;
      const uint32_t raw = start - raw_start;
      if (raw <= SHORT_RAW_PIXELS && raw_start + SHORT_RAW_PIXELS <= width) {
        if (kWrite) {
          out[size] = static_cast<uint8_t>(raw - 1);
          std::memcpy(out + size + 1, row + size_t{raw_start} * 4,
                      SHORT_RAW_PIXELS * 4);
        }
        size += size_t{raw != 0} + size_t{raw} * 4;
      } else {
        size += emitRawPixels<kWrite>(row, raw_start, start, width,
                                      kWrite ? out + size : nullptr);
      }
      const uint32_t length = end - start;
      if (length <= RLE_MAX_RUN_PIXELS) {
        if (kWrite) {
          out[size] = static_cast<uint8_t>(RLE_FLAG + length - 1);
          std::memcpy(out + size + 1, row + size_t{start} * 4, 4);
        }
        size += 5;
        raw_start = end;
      } else {
        size += emitRuns<kWrite>(row + size_t{start} * 4, length,
                                 kWrite ? out + size : nullptr);
        raw_start = length % RLE_MAX_RUN_PIXELS == 1 ? end - 1 : end;
      }
    }
  }
  size += emitRawPixels<kWrite>(row, raw_start, width, width,
                                kWrite ? out + size : nullptr);
  return size;
}

template <bool kWrite, bool kSimd, size_t kMaskWords>
size_t encodeRowWithMask(const uint8_t* row, uint32_t width, uint8_t* out) {
  uint64_t mask[kMaskWords];
  equalNeighbourMask<kSimd>(row, width, mask);
  return encodeSpans<kWrite>(row, width, mask, out);
}

// Rows of up to 1024 pixels, most rows of most files, take a 128-byte mask
// rather than the 8 KiB the widest row needs: sanitizer builds clear and
// mark a frame's guard memory on every call, in proportion to its size,
// which made the fuzz target spend a sixth of its time there.
template <bool kWrite, bool kSimd>
size_t encodeRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  constexpr size_t SMALL_MASK_WORDS = 16;
  if (width <= SMALL_MASK_WORDS * 64) {
    return encodeRowWithMask<kWrite, kSimd, SMALL_MASK_WORDS>(row, width, out);
  }
  return encodeRowWithMask<kWrite, kSimd, MASK_WORDS>(row, width, out);
}

}  // namespace

size_t encodeRleRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  return encodeRow<true, true>(row, width, out);
}

size_t rleRowSize(const uint8_t* row, uint32_t width) {
  return encodeRow<false, true>(row, width, nullptr);
}

size_t encodeRleRowPortable(const uint8_t* row, uint32_t width,
                            uint8_t* out) {
  return encodeRow<true, false>(row, width, out);
}

size_t rleRowSizePortable(const uint8_t* row, uint32_t width) {
  return encodeRow<false, false>(row, width, nullptr);
}

uint64_t rleStreamSize(const uint8_t* pixels, uint32_t width, uint32_t height) {
  uint64_t total = 0;
  const size_t row_bytes = size_t{width} * 4;
  for (uint32_t y = 0; y < height; ++y) {
    total += rleRowSize(pixels + y * row_bytes, width);
  }
  return total;
}

bool encodeRle(const uint8_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& stream) {
  stream.clear();
  const uint64_t plain = uint64_t{width} * height * 4;
  const uint64_t packed = rleStreamSize(pixels, width, height);
  if (packed >= plain) return false;
  // Room for the last row's worst case, which encodeRleRow may use.
  stream.resize(static_cast<size_t>(packed) + size_t{width} * 5);
  const size_t row_bytes = size_t{width} * 4;
  uint8_t* out = stream.data();
  for (uint32_t y = 0; y < height; ++y) {
    out += encodeRleRow(pixels + y * row_bytes, width, out);
  }
  stream.resize(static_cast<size_t>(packed));
  return true;
}
