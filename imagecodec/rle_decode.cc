// Run-length packet decoding.
//
// The stream is one sequence of pixels: packets may cross the end of a row.
// The decoder is a small state machine so that the stream can arrive in chunks
// of any size, down to single bytes, and be decoded straight into the pixel
// buffer without a copy of the whole stream in memory. It stops as soon as
// the image is full; whatever follows is not looked at. Where a packet of any
// size fits, the kernel set's decode_packets takes whole packets with wide
// stores (rle_decode_body.h); this file holds the exact decoding around it.

#include <algorithm>
#include <cstring>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"

namespace {

// The word that ORs `alpha` into a pixel's alpha byte, whatever the host's
// byte order.
uint32_t alphaWord(uint8_t alpha) {
  const uint8_t bytes[4] = {0, 0, 0, alpha};
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

// ORs `alpha` into the alpha bytes among pixels[from, to).
void orAlpha(uint8_t* pixels, uint64_t from, uint64_t to, uint8_t alpha) {
  if (alpha == 0) return;
  for (uint64_t i = from | 3; i < to; i += 4) pixels[i] |= alpha;
}

// Repeats the 4-byte pixel `count` times.
void fillPixels(uint8_t* out, const uint8_t pixel[4], uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) std::memcpy(out + i * 4, pixel, 4);
}

}  // namespace

size_t decodeRleChunk(RleDecoder& d, const uint8_t* stream, size_t size,
                      uint8_t* pixels, uint64_t pixel_bytes) {
  size_t in = 0;
  while (d.out_pos < pixel_bytes) {
    if (d.raw_bytes_left == 0 && d.run_pixels_left == 0) {
      in += rleKernels().decode_packets(stream + in, size - in, pixels,
                                        pixel_bytes, &d.out_pos,
                                        alphaWord(d.alpha));
      if (d.out_pos == pixel_bytes) break;
    }
    if (d.raw_bytes_left > 0) {
      size_t take = std::min<uint64_t>(
          {d.raw_bytes_left, size - in, pixel_bytes - d.out_pos});
      if (take == 0) break;
      std::memcpy(pixels + d.out_pos, stream + in, take);
      orAlpha(pixels, d.out_pos, d.out_pos + take, d.alpha);
      in += take;
      d.out_pos += take;
      d.raw_bytes_left -= static_cast<uint32_t>(take);
    } else if (d.run_pixels_left > 0) {
      size_t take = std::min<size_t>(4u - d.run_pixel_have, size - in);
      std::memcpy(d.run_pixel + d.run_pixel_have, stream + in, take);
      in += take;
      d.run_pixel_have = static_cast<uint8_t>(d.run_pixel_have + take);
      if (d.run_pixel_have < 4) break;
      d.run_pixel[3] |= d.alpha;
      // A raw packet always completes whole pixels before a run starts, and
      // pixel_bytes is a multiple of 4, so out_pos is pixel-aligned here.
      // A run longer than the room left goes on in the next buffer of
      // pixels, when there is one: an image decoded a block of rows at a
      // time continues it there.
      uint64_t room = (pixel_bytes - d.out_pos) / 4;
      uint64_t count = std::min<uint64_t>(d.run_pixels_left, room);
      fillPixels(pixels + d.out_pos, d.run_pixel, count);
      d.out_pos += count * 4;
      d.run_pixels_left -= static_cast<uint32_t>(count);
      if (d.run_pixels_left == 0) d.run_pixel_have = 0;
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

void makeOpaque(uint8_t* pixels, uint64_t size) {
  if (size > 0) rleKernels().make_opaque(pixels, size);
}
