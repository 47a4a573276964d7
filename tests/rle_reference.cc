// The packet rules applied literally, as rle_reference.h describes: the encoder
// looks at one pixel and its right-hand neighbour at a time, the decoder at
// one stream byte at a time.

#include <cstring>

#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"

size_t encodeRleRowReference(const uint8_t* row, uint32_t width,
                             uint8_t* out) {
  size_t size = 0;
  uint32_t raw_first = 0;  // pending raw pixels are [raw_first, +raw_count)
  uint32_t raw_count = 0;
  uint32_t passed = 0;     // equal pixels passed over in the open run
  auto flushRaw = [&] {
    if (raw_count == 0) return;
    out[size++] = static_cast<uint8_t>(raw_count - 1);
    std::memcpy(out + size, row + size_t{raw_first} * 4, size_t{raw_count} * 4);
    size += size_t{raw_count} * 4;
    raw_count = 0;
  };
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* pixel = row + size_t{x} * 4;
    const bool equals_next =
        x + 1 < width && std::memcmp(pixel, pixel + 4, 4) == 0;
    if (equals_next && passed + 1 < RLE_MAX_RUN_PIXELS) {
      flushRaw();
      ++passed;
      continue;
    }
    if (passed > 0) {
      // This pixel ends the run: the last of a span, or the 128th.
      out[size++] = static_cast<uint8_t>(RLE_FLAG + passed);
      std::memcpy(out + size, pixel, 4);
      size += 4;
      passed = 0;
      continue;
    }
    if (raw_count == 0) raw_first = x;
    if (++raw_count == RLE_MAX_RAW_PIXELS) flushRaw();
  }
  flushRaw();
  return size;
}

uint64_t decodeRleReference(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes) {
  size_t in = 0;
  uint64_t out = 0;
  while (out < pixel_bytes && in < size) {
    const uint8_t h = stream[in++];
    const uint32_t bytes = ((h & 0x7Fu) + 1) * 4;
    if (h < RLE_FLAG) {
      for (uint32_t i = 0; i < bytes && in < size && out < pixel_bytes; ++i) {
        pixels[out++] = stream[in++];
      }
    } else {
      if (size - in < 4) break;  // a run pixel cut short gives nothing
      for (uint32_t i = 0; i < bytes && out < pixel_bytes; ++i) {
        pixels[out++] = stream[in + i % 4];
      }
      in += 4;
    }
  }
  for (uint64_t i = out; i < pixel_bytes; ++i) pixels[i] = 0;
  return out;
}
