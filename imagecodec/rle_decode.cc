// Run-length packet decoding.
//
// The stream is one sequence of pixels: packets may cross the end of a row.
// The decoder is a small state machine so that the stream can arrive in chunks
// of any size, down to single bytes, and be decoded straight into the pixel
// buffer without a copy of the whole stream in memory. It stops as soon as
// the image is full; whatever follows is not looked at.

#include <algorithm>
#include <cstring>

#include "imagecodec/tga_image.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define BRISEL_RLE_SSE2 1
#endif

namespace {

// Repeats the 4-byte pixel `count` times.
void fillPixels(uint8_t* out, const uint8_t pixel[4], uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) std::memcpy(out + i * 4, pixel, 4);
}

// The largest packet: 1 header byte and 128 pixels in, 128 pixels out.
constexpr size_t MAX_PACKET_IN = 1 + 128 * 4;
constexpr size_t MAX_PACKET_OUT = 128 * 4;
// Packets are stored in steps of this many bytes, 8 pixels.
constexpr size_t STORE_BYTES = 32;
// Stream bytes that decode to at least 64 pixel bytes, even when they end
// in a cut packet: whole packets give at least 4 bytes for every 5, and a
// cut run pixel of up to 4 bytes gives none. 4 + 64 * 5 / 4 = 84, rounded up.
constexpr size_t TAIL_IN = 96;

// A pixel repeated to fill a register, and 8 copies of it stored.
#ifdef BRISEL_RLE_SSE2
using Repeated = __m128i;
Repeated repeatPixel(const uint8_t* pixel) {
  uint32_t value;
  std::memcpy(&value, pixel, 4);
  return _mm_set1_epi32(static_cast<int>(value));
}
void storeEightPixels(uint8_t* out, Repeated pixel) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixel);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), pixel);
}
#else
using Repeated = uint64_t;
Repeated repeatPixel(const uint8_t* pixel) {
  uint32_t value;
  std::memcpy(&value, pixel, 4);
  return uint64_t{value} << 32 | value;
}
void storeEightPixels(uint8_t* out, Repeated pixel) {
  for (size_t i = 0; i < STORE_BYTES; i += 8) std::memcpy(out + i, &pixel, 8);
}
#endif

// Decodes whole packets while a packet of any size fits in what is left of
// both the stream and the pixels, so no packet needs its bounds checked.
// Packets are stored 32 bytes at a time with no loop for the common sizes: a
// raw packet of up to 8 pixels is one fixed-size copy, a run of up to 16 two
// broadcasts. The stores may run up to 60 bytes past a packet's end, into
// room that the loop's bounds leave. The next packet overwrites them, leaving
// at most 60 bytes of its own, so that after the last packet only its 64
// bytes of slack may hold stray bytes. The loop stops with enough of the
// stream left (TAIL_IN) for the caller's exact decoding of it to overwrite
// those, or to fill the image; a stream that ends there leaves nothing stray.
// Returns the stream bytes used.
size_t decodeWholePackets(const uint8_t* stream, size_t size, uint8_t* pixels,
                          uint64_t pixel_bytes, uint64_t& out_pos) {
  size_t in = 0;
  uint64_t out = out_pos;
  while (size - in >= MAX_PACKET_IN + TAIL_IN &&
         pixel_bytes - out >= MAX_PACKET_OUT) {
    const uint8_t h = stream[in];
    const uint8_t* src = stream + in + 1;
    uint8_t* dst = pixels + out;
    // Run or raw stays a branch: it predicts well on real streams, and the
    // branchless forms measured slower.
    if (h < RLE_FLAG) {
      const size_t bytes = (size_t{h} + 1) * 4;
      std::memcpy(dst, src, STORE_BYTES);
      for (size_t i = STORE_BYTES; i < bytes; i += STORE_BYTES) {
        std::memcpy(dst + i, src + i, STORE_BYTES);
      }
      in += 1 + bytes;
      out += bytes;
    } else {
      const size_t bytes = (size_t{h} - 127) * 4;
      const Repeated pixel = repeatPixel(src);
      storeEightPixels(dst, pixel);
      storeEightPixels(dst + STORE_BYTES, pixel);
      for (size_t i = 2 * STORE_BYTES; i < bytes; i += STORE_BYTES) {
        storeEightPixels(dst + i, pixel);
      }
      in += 5;
      out += bytes;
    }
  }
  out_pos = out;
  return in;
}

}  // namespace

size_t decodeRleChunk(RleDecoder& d, const uint8_t* stream, size_t size,
                      uint8_t* pixels, uint64_t pixel_bytes) {
  size_t in = 0;
  while (d.out_pos < pixel_bytes) {
    if (d.raw_bytes_left == 0 && d.run_pixels_left == 0) {
      in += decodeWholePackets(stream + in, size - in, pixels, pixel_bytes,
                               d.out_pos);
      if (d.out_pos == pixel_bytes) break;
    }
    if (d.raw_bytes_left > 0) {
      size_t take = std::min<uint64_t>(
          {d.raw_bytes_left, size - in, pixel_bytes - d.out_pos});
      if (take == 0) break;
      std::memcpy(pixels + d.out_pos, stream + in, take);
      in += take;
      d.out_pos += take;
      d.raw_bytes_left -= static_cast<uint32_t>(take);
    } else if (d.run_pixels_left > 0) {
      size_t take = std::min<size_t>(4u - d.run_pixel_have, size - in);
      std::memcpy(d.run_pixel + d.run_pixel_have, stream + in, take);
      in += take;
      d.run_pixel_have = static_cast<uint8_t>(d.run_pixel_have + take);
      if (d.run_pixel_have < 4) break;
      // A raw packet always completes whole pixels before a run starts, and
      // pixel_bytes is a multiple of 4, so out_pos is pixel-aligned here.
      uint64_t room = (pixel_bytes - d.out_pos) / 4;
      uint64_t count = std::min<uint64_t>(d.run_pixels_left, room);
      fillPixels(pixels + d.out_pos, d.run_pixel, count);
      d.out_pos += count * 4;
      d.run_pixels_left = 0;
      d.run_pixel_have = 0;
    } else {
      if (in == size) break;
      uint8_t h = stream[in++];
      if (h < RLE_FLAG) {
        d.raw_bytes_left = (uint32_t{h} + 1) * 4;
      } else {
        d.run_pixels_left = uint32_t{h} - 127;
      }
    }
  }
  return in;
}

uint64_t decodeRle(const uint8_t* stream, size_t size, uint8_t* pixels,
                   uint64_t pixel_bytes) {
  RleDecoder decoder;
  decodeRleChunk(decoder, stream, size, pixels, pixel_bytes);
  if (decoder.out_pos < pixel_bytes) {
    std::memset(pixels + decoder.out_pos, 0, pixel_bytes - decoder.out_pos);
  }
  return decoder.out_pos;
}
