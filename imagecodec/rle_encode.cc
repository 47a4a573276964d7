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

#include <cstring>

#include "imagecodec/tga_image.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define BRISEL_RLE_SSE2 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif
#endif

namespace {

uint32_t loadPixel(const uint8_t* row, uint32_t x) {
  uint32_t value;
  std::memcpy(&value, row + size_t{x} * 4, 4);
  return value;
}

#ifdef BRISEL_RLE_SSE2
__m128i loadFour(const uint8_t* row, uint32_t x) {
  return _mm_loadu_si128(
      reinterpret_cast<const __m128i*>(row + size_t{x} * 4));
}

// Bit i set when lane i of a equals lane i of b (4 lanes of 32 bits).
unsigned equalLanes(__m128i a, __m128i b) {
  return static_cast<unsigned>(
      _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, b))));
}

unsigned lowestBit(unsigned mask) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index;
  _BitScanForward(&index, mask);
  return index;
#else
  return static_cast<unsigned>(__builtin_ctz(mask));
#endif
}
#endif

// The first pixel at or after `x` that equals its right-hand neighbour, which
// is where the next run starts; `width` when there is none. Neighbours are
// compared four pairs at a time where the CPU allows.
uint32_t findRunStart(const uint8_t* row, uint32_t x, uint32_t width) {
#ifdef BRISEL_RLE_SSE2
  while (x + 8 < width) {
    unsigned low = equalLanes(loadFour(row, x), loadFour(row, x + 1));
    unsigned high = equalLanes(loadFour(row, x + 4), loadFour(row, x + 5));
    unsigned mask = low | (high << 4);
    if (mask != 0) return x + lowestBit(mask);
    x += 8;
  }
#endif
  while (x + 1 < width) {
    if (loadPixel(row, x) == loadPixel(row, x + 1)) return x;
    ++x;
  }
  return width;
}

// The first pixel after `x` that differs from pixel x; `width` when the span
// of pixel x reaches the end of the row.
uint32_t findRunEnd(const uint8_t* row, uint32_t x, uint32_t width) {
  const uint32_t pixel = loadPixel(row, x);
  ++x;
#ifdef BRISEL_RLE_SSE2
  const __m128i four = _mm_set1_epi32(static_cast<int>(pixel));
  while (x + 4 <= width) {
    unsigned mask = equalLanes(loadFour(row, x), four);
    if (mask != 0xF) return x + lowestBit(~mask & 0xF);
    x += 4;
  }
#endif
  while (x < width && loadPixel(row, x) == pixel) ++x;
  return x;
}

// Appends raw packets for the pixels [first, end) of the row: as many packets
// of 121 as fit, then one of the rest. Returns the bytes (only counting when
// kWrite is false, where `out` may be null).
template <bool kWrite>
size_t emitRawPixels(const uint8_t* row, uint32_t first, uint32_t end,
                     uint8_t* out) {
  const uint32_t count = end - first;
  if (!kWrite) {
    return size_t{count} * 4 +
           (count + RLE_MAX_RAW_PIXELS - 1) / RLE_MAX_RAW_PIXELS;
  }
  size_t at = 0;
  for (uint32_t x = first; x < end; x += RLE_MAX_RAW_PIXELS) {
    uint32_t n = end - x < RLE_MAX_RAW_PIXELS ? end - x : RLE_MAX_RAW_PIXELS;
    out[at] = static_cast<uint8_t>(n - 1);
    std::memcpy(out + at + 1, row + size_t{x} * 4, size_t{n} * 4);
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

// Where the next packet goes; `out` is null when only counting.
uint8_t* at(uint8_t* out, size_t size) { return out ? out + size : nullptr; }

// Pixels from the end of one run to the start of the next are raw; runs are
// found by comparing neighbours, so the row is read once.
template <bool kWrite>
size_t encodeRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  size_t size = 0;
  uint32_t raw_start = 0;  // raw pixels [raw_start, x) are pending
  uint32_t x = 0;
  while (x < width) {
    const uint32_t start = findRunStart(row, x, width);
    if (start == width) break;
    size += emitRawPixels<kWrite>(row, raw_start, start, at(out, size));
    const uint32_t end = findRunEnd(row, start, width);
    const uint32_t length = end - start;
    size += emitRuns<kWrite>(row + size_t{start} * 4, length, at(out, size));
    raw_start = length % RLE_MAX_RUN_PIXELS == 1 ? end - 1 : end;
    x = end;
  }
  size += emitRawPixels<kWrite>(row, raw_start, width, at(out, size));
  return size;
}

}  // namespace

size_t encodeRleRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  return encodeRow<true>(row, width, out);
}

size_t rleRowSize(const uint8_t* row, uint32_t width) {
  return encodeRow<false>(row, width, nullptr);
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
  stream.resize(packed);
  const size_t row_bytes = size_t{width} * 4;
  uint8_t* out = stream.data();
  for (uint32_t y = 0; y < height; ++y) {
    out += encodeRleRow(pixels + y * row_bytes, width, out);
  }
  return true;
}
