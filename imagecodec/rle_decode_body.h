// The decoder's kernel: whole packets with fixed-size stores, for one
// instruction set (see rle_kernel_body.h, which includes this).

#ifndef BRISEL_IMAGECODEC_RLE_DECODE_BODY_H
#define BRISEL_IMAGECODEC_RLE_DECODE_BODY_H

namespace {

// The largest packet: 1 header byte and 128 pixels in, 128 pixels out.
constexpr size_t MAX_PACKET_IN = 1 + 128 * 4;
constexpr size_t MAX_PACKET_OUT = 128 * 4;
// Packets are stored in steps of this many bytes, 8 pixels.
constexpr size_t STORE_BYTES = 32;
// Stream bytes that decode to at least 64 pixel bytes, even when they end
// in a cut packet: whole packets give at least 4 bytes for every 5, and a
// cut run pixel of up to 4 bytes gives none. 4 + 64 * 5 / 4 = 84, rounded up.
constexpr size_t TAIL_IN = 96;

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
//
// The loop keeps pointers, not 64-bit counts: what is left of the image is
// in memory, so a pointer reaches it, in one register on any processor.
//
// `alpha` is ORed into every pixel: its alpha byte set makes the pixels
// opaque as they are decoded, which saves a pass over them.
template <class Isa>
size_t decodePacketsFor(const uint8_t* stream, size_t size, uint8_t* pixels,
                        uint64_t pixel_bytes, uint64_t* out_pos,
                        uint32_t alpha) {
  if (size < MAX_PACKET_IN + TAIL_IN ||
      pixel_bytes - *out_pos < MAX_PACKET_OUT) {
    return 0;
  }
  const uint8_t* in = stream;
  const uint8_t* const in_last = stream + (size - MAX_PACKET_IN - TAIL_IN);
  uint8_t* const first = pixels + *out_pos;
  uint8_t* out = first;
  uint8_t* const out_last =
      first + static_cast<size_t>(pixel_bytes - *out_pos - MAX_PACKET_OUT);
  const typename Isa::Repeated alpha_wide = Isa::repeatPixel(alpha);
  while (in <= in_last && out <= out_last) {
    const uint8_t h = *in;
    const uint8_t* src = in + 1;
    // Run or raw stays a branch: it predicts well on real streams, and the
    // branchless forms measured slower.
    if (h < RLE_FLAG) {
      const size_t bytes = (size_t{h} + 1) * 4;
      Isa::copyEightPixels(out, src, alpha_wide);
      for (size_t i = STORE_BYTES; i < bytes; i += STORE_BYTES) {
        Isa::copyEightPixels(out + i, src + i, alpha_wide);
      }
      in += 1 + bytes;
      out += bytes;
    } else {
      const size_t bytes = (size_t{h} - 127) * 4;
      const typename Isa::Repeated pixel =
          Isa::repeatPixel(loadPixel(src, 0) | alpha);
      Isa::storeEightPixels(out, pixel);
      Isa::storeEightPixels(out + STORE_BYTES, pixel);
      for (size_t i = 2 * STORE_BYTES; i < bytes; i += STORE_BYTES) {
        Isa::storeEightPixels(out + i, pixel);
      }
      in += 5;
      out += bytes;
    }
  }
  *out_pos += static_cast<size_t>(out - first);
  return static_cast<size_t>(in - stream);
}

}  // namespace

#endif  // BRISEL_IMAGECODEC_RLE_DECODE_BODY_H
