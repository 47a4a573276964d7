// The packet rules applied literally, as rle_reference.h describes: the encoder
// looks at one pixel and its right-hand neighbour at a time, the decoder at
// one stream byte at a time.

#include <algorithm>
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

bool opaqueFileReference(const uint8_t* data, size_t size,
                         std::vector<uint8_t>& out, bool& truncated) {
  uint8_t header[18] = {};
  if (size > 0) std::memcpy(header, data, std::min<size_t>(size, 18));
  if (header[2] != 2 && header[2] != 10) return false;
  if (header[16] != 32) return false;
  const uint32_t width = header[12] | header[13] << 8;
  const uint32_t height = header[14] | header[15] << 8;
  size_t extra = header[0];
  if (header[1] == 1) {
    extra += size_t(header[5] | header[6] << 8) * ((header[7] + 7) / 8);
  }
  const size_t data_at = std::min(size, 18 + extra);
  std::vector<uint8_t> extras(extra, 0);
  if (data_at > 18) std::memcpy(extras.data(), data + 18, data_at - 18);
  truncated = size < 18 + extra;

  const uint64_t n = uint64_t{width} * height * 4;
  std::vector<uint8_t> pixels(n, 0);
  const size_t rest = size - data_at;
  if (header[2] == 2) {
    if (rest > 0 && n > 0) {
      std::memcpy(pixels.data(), data + data_at, std::min<uint64_t>(rest, n));
    }
    truncated = truncated || rest < n;
  } else {
    const uint64_t got =
        decodeRleReference(data + data_at, rest, pixels.data(), n);
    truncated = truncated || got < n;
  }
  for (uint64_t i = 3; i < n; i += 4) pixels[i] = 0xFF;

  std::vector<uint8_t> packets, row(size_t{width} * 5);
  for (uint32_t y = 0; y < height; ++y) {
    const size_t used =
        encodeRleRowReference(pixels.data() + size_t{y} * width * 4, width, row.data());
    packets.insert(packets.end(), row.begin(), row.begin() + used);
  }
  const bool rle = packets.size() < n;
  header[2] = rle ? 10 : 2;
  out.assign(header, header + 18);
  out.insert(out.end(), extras.begin(), extras.end());
  const std::vector<uint8_t>& body = rle ? packets : pixels;
  out.insert(out.end(), body.begin(), body.end());
  return true;
}
