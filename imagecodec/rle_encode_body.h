// The encoder's kernels for one instruction set (see rle_kernel_body.h,
// which includes this; the packet rules and how they are found fast are
// described at the top of rle_encode.cc).

#ifndef BRISEL_IMAGECODEC_RLE_ENCODE_BODY_H
#define BRISEL_IMAGECODEC_RLE_ENCODE_BODY_H

namespace {

// A row has at most 65535 pixels.
constexpr size_t MASK_WORDS = 65536 / MASK_BITS;
// Raw stretches up to this many pixels are copied with one fixed-size store.
constexpr uint32_t SHORT_RAW_PIXELS = 8;

// Fills the mask words for pixels 0 to width - 1: bit x set when pixel x
// equals pixel x + 1, every other bit clear (the last pixel has no
// neighbour to equal).
template <class Isa>
void equalNeighbourMask(const uint8_t* row, uint32_t width, MaskWord* mask) {
  const uint32_t pairs = width > 0 ? width - 1 : 0;
  uint32_t x = 0;
  for (; x + MASK_BITS <= pairs; x += MASK_BITS) {
    mask[x / MASK_BITS] = Isa::equalWord(row, x);
  }
  if (x < width) {
    mask[x / MASK_BITS] =
        pairs > x ? equalNeighboursPlain(row, x, pairs - x) : 0;
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
size_t encodeSpans(const uint8_t* row, uint32_t width, const MaskWord* mask,
                   uint8_t* out) {
  size_t size = 0;
  uint32_t raw_start = 0;  // raw pixels [raw_start, start) are pending
  uint32_t start = 0;
  bool in_span = false;
  for (uint32_t word = 0; word * MASK_BITS < width; ++word) {
    const MaskWord equal = mask[word];
    MaskWord edges = equal ^ (equal << 1 | MaskWord{in_span});
    while (edges != 0) {
      const uint32_t x = word * MASK_BITS + lowestBit(edges);
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

template <bool kWrite, class Isa, size_t kMaskWords>
size_t encodeRowWithMask(const uint8_t* row, uint32_t width, uint8_t* out) {
  MaskWord mask[kMaskWords];
  equalNeighbourMask<Isa>(row, width, mask);
  return encodeSpans<kWrite>(row, width, mask, out);
}

// Rows of up to 1024 pixels, most rows of most files, take a 128-byte mask
// rather than the 8 KiB the widest row needs: sanitizer builds clear and
// mark a frame's guard memory on every call, in proportion to its size,
// which made the fuzz target spend a sixth of its time there.
template <bool kWrite, class Isa>
size_t encodeRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  constexpr size_t SMALL_MASK_WORDS = 1024 / MASK_BITS;
  if (width <= SMALL_MASK_WORDS * MASK_BITS) {
    return encodeRowWithMask<kWrite, Isa, SMALL_MASK_WORDS>(row, width, out);
  }
  return encodeRowWithMask<kWrite, Isa, MASK_WORDS>(row, width, out);
}

template <class Isa>
size_t encodeRowFor(const uint8_t* row, uint32_t width, uint8_t* out) {
  return encodeRow<true, Isa>(row, width, out);
}

template <class Isa>
size_t rowSizeFor(const uint8_t* row, uint32_t width) {
  return encodeRow<false, Isa>(row, width, nullptr);
}

}  // namespace

#endif  // BRISEL_IMAGECODEC_RLE_ENCODE_BODY_H
