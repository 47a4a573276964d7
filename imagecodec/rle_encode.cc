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

namespace {

uint32_t loadPixel(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// Number of pixels from `x` on that equal pixel x, up to the end of the row.
uint32_t spanLength(const uint8_t* row, uint32_t x, uint32_t width) {
  uint32_t first = loadPixel(row + size_t{x} * 4);
  uint32_t end = x + 1;
  while (end < width && loadPixel(row + size_t{end} * 4) == first) ++end;
  return end - x;
}

// Appends a run packet of `count` (2..128) copies of `pixel` at out[at]
// (only counting when kWrite is false, where `out` may be null).
template <bool kWrite>
size_t emitRunPacket(uint32_t count, const uint8_t* pixel, uint8_t* out,
                     size_t at) {
  if (kWrite) {
    out[at] = static_cast<uint8_t>(RLE_FLAG + count - 1);
    std::memcpy(out + at + 1, pixel, 4);
  }
  return 5;
}

// Appends a raw packet of the `count` (1..121) pixels starting at `first`.
template <bool kWrite>
size_t emitRawPacket(uint32_t count, const uint8_t* first, uint8_t* out,
                     size_t at) {
  if (kWrite) {
    out[at] = static_cast<uint8_t>(count - 1);
    std::memcpy(out + at + 1, first, size_t{count} * 4);
  }
  return 1 + size_t{count} * 4;
}

template <bool kWrite>
size_t encodeRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  size_t size = 0;
  uint32_t raw_start = 0;
  uint32_t raw = 0;
  auto flushRaw = [&] {
    if (raw > 0) {
      size += emitRawPacket<kWrite>(raw, row + size_t{raw_start} * 4, out, size);
      raw = 0;
    }
  };
  uint32_t x = 0;
  while (x < width) {
    uint32_t span = spanLength(row, x, width);
    if (span >= 2) {
      flushRaw();
      const uint8_t* pixel = row + size_t{x} * 4;
      uint32_t left = span;
      while (left >= 2) {
        uint32_t count = left < RLE_MAX_RUN_PIXELS ? left : RLE_MAX_RUN_PIXELS;
        size += emitRunPacket<kWrite>(count, pixel, out, size);
        left -= count;
      }
      x += span - left;
      if (left == 0) continue;
      // One pixel of the span is left over; it falls through as a raw pixel.
    }
    if (raw == 0) raw_start = x;
    ++raw;
    ++x;
    if (raw == RLE_MAX_RAW_PIXELS) flushRaw();
  }
  flushRaw();
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
