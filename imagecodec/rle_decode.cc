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

namespace {

// Repeats the 4-byte pixel `count` times.
void fillPixels(uint8_t* out, const uint8_t pixel[4], uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) std::memcpy(out + i * 4, pixel, 4);
}

// The largest packet: 1 header byte and 128 pixels in, 128 pixels out.
constexpr size_t MAX_PACKET_IN = 1 + 128 * 4;
constexpr size_t MAX_PACKET_OUT = 128 * 4;

// Decodes whole packets while a packet of any size fits in what is left of
// both the stream and the pixels, so no packet needs its bounds checked.
// Stores may run up to 28 bytes past a run's end, into room that the next
// packets overwrite. Returns the stream bytes used.
size_t decodeWholePackets(const uint8_t* stream, size_t size, uint8_t* pixels,
                          uint64_t pixel_bytes, uint64_t& out_pos) {
  size_t in = 0;
  uint64_t out = out_pos;
  while (size - in >= MAX_PACKET_IN && pixel_bytes - out >= MAX_PACKET_OUT) {
    const uint8_t h = stream[in];
    if (h < RLE_FLAG) {
      const size_t bytes = (size_t{h} + 1) * 4;
      std::memcpy(pixels + out, stream + in + 1, bytes);
      in += 1 + bytes;
      out += bytes;
    } else {
      const size_t count = size_t{h} - 127;
      uint8_t eight[32];
      for (int i = 0; i < 32; i += 4) {
        std::memcpy(eight + i, stream + in + 1, 4);
      }
      uint8_t* dst = pixels + out;
      for (size_t i = 0; i < count; i += 8) std::memcpy(dst + i * 4, eight, 32);
      in += 5;
      out += count * 4;
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
