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
// equals pixel x + 1, comparing 16 neighbours at a time with SSE2 or NEON
// where the processor has them and one pair at a time elsewhere. A span of
// equal pixels [start, end) is then a stretch of set bits from start to
// end - 2, whose two edges are read off mask ^ (mask << 1) with a bit scan
// each; the pixels between spans are raw. A raw stretch of up to 8 pixels is
// written as one fixed 32-byte copy and a run of up to 128 as one header and
// one pixel store, so the common packets cost no loop and no branch on their
// length; longer ones take the general path. Both paths give the same bytes.
//
// The row kernels live in rle_encode_body.h, compiled once per instruction
// set (rle_kernels_*.cc); this file holds what every set shares.

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"

size_t encodeRleRow(const uint8_t* row, uint32_t width, uint8_t* out) {
  return rleKernels().encode_row(row, width, out);
}

size_t rleRowSize(const uint8_t* row, uint32_t width) {
  return rleKernels().row_size(row, width);
}

uint64_t rleStreamSize(const uint8_t* pixels, uint32_t width, uint32_t height) {
  uint64_t total = 0;
  const size_t row_bytes = size_t{width} * 4;
  const RleKernels& kernels = rleKernels();
  for (uint32_t y = 0; y < height; ++y) {
    total += kernels.row_size(pixels + y * row_bytes, width);
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
