// The run-length packet kernels: the decoder's state and its chunked entry
// point, the row encoder and sizer, and the table of their per-processor
// forms.
//
// The packets they read and write are described at the top of tga_image.h;
// the rules that fix the bytes written are at the top of rle_encode.cc. Every
// kernel set gives the same bytes: they differ only in how they compare
// neighbours and how wide they store.

#ifndef BRISEL_IMAGECODEC_RLE_KERNELS_H
#define BRISEL_IMAGECODEC_RLE_KERNELS_H

#include <cstddef>
#include <cstdint>

// --- run-length decoding (rle_decode.cc) ---
// Decoder state carried between chunks of the packet stream, so that a stream
// can be decoded straight from a file through a small buffer.
struct RleDecoder {
  uint64_t out_pos = 0;        // pixel bytes produced so far
  uint32_t raw_bytes_left = 0;  // bytes still to copy for the open raw packet
  uint32_t run_pixels_left = 0; // pixels still to produce for the open run packet
  uint8_t run_pixel[4] = {0, 0, 0, 0};
  uint8_t run_pixel_have = 0;   // bytes of run_pixel gathered so far
  // ORed into every alpha byte decoded: 0xFF makes the pixels opaque.
  uint8_t alpha = 0;
};

// Decodes `size` stream bytes into `pixels` (`pixel_bytes` long, a multiple of
// 4). Never reads past `size` nor writes past `pixel_bytes`. A packet that
// describes more pixels than remain is kept open in `decoder`: with its
// out_pos set back to 0, the decoder continues it in the next buffer of
// pixels; at the end of an image it is simply cut. Returns the number of
// stream bytes used; fewer than `size` once the pixels are full.
size_t decodeRleChunk(RleDecoder& decoder, const uint8_t* stream, size_t size,
                      uint8_t* pixels, uint64_t pixel_bytes);

// --- run-length encoding (rle_encode.cc) ---
// Encodes one row of `width` pixels into `out`, which must hold width * 5
// bytes (the worst case: every pixel a raw packet of its own); any of them may
// be written, past the packets too. Returns the bytes of packets.
size_t encodeRleRow(const uint8_t* row, uint32_t width, uint8_t* out);
// The byte count encodeRleRow would return, without writing anything.
size_t rleRowSize(const uint8_t* row, uint32_t width);
// Total packet stream size for the image.
uint64_t rleStreamSize(const uint8_t* pixels, uint32_t width, uint32_t height);

// --- the kernels per instruction set (rle_kernels_*.cc, rle_dispatch.cc) ---
// One set of kernels, compiled for one instruction set.
struct RleKernels {
  const char* name;  // "plain", "sse2", "avx2", "neon"
  // Same contract and bytes as encodeRleRow and rleRowSize.
  size_t (*encode_row)(const uint8_t* row, uint32_t width, uint8_t* out);
  size_t (*row_size)(const uint8_t* row, uint32_t width);
  // Decodes whole packets from `stream` into `pixels` from *out_pos on, for
  // as long as the largest packet fits in what is left of both, and stops
  // with enough of the stream left for decodeRleChunk's exact decoding to
  // overwrite the slack of its wide stores (see rle_kernel_body.h). Returns
  // the stream bytes used and advances *out_pos. Every pixel is ORed with
  // `alpha` (in memory order, as loaded from 4 bytes).
  size_t (*decode_packets)(const uint8_t* stream, size_t size,
                           uint8_t* pixels, uint64_t pixel_bytes,
                           uint64_t* out_pos, uint32_t alpha);
  // Same contract and bytes as makeOpaque.
  void (*make_opaque)(uint8_t* pixels, uint64_t size);
};

// The sets this processor can run, fastest first; `*count` gets how many.
// The first is the one the kernels above use, chosen once from the
// processor's features.
const RleKernels* const* rleKernelSets(size_t* count);
// The set in use.
const RleKernels& rleKernels();
// For tests only: makes `kernels` (one of rleKernelSets) the set in use, so
// that every set this processor offers can be held to the same results.
void useRleKernels(const RleKernels& kernels);

// The sets a build holds, each defined in its rle_kernels_*.cc. What the
// compiler targets decides which exist; rle_dispatch.cc decides, from the
// processor, which of them run.
extern const RleKernels RLE_KERNELS_PLAIN;
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || \
    defined(_M_X64)
#define BRISEL_RLE_X86 1
extern const RleKernels RLE_KERNELS_SSE2;
extern const RleKernels RLE_KERNELS_AVX2;
// SSE2's decode_packets and make_opaque, which the AVX2 set shares.
size_t decodeRlePacketsSse2(const uint8_t* stream, size_t size,
                            uint8_t* pixels, uint64_t pixel_bytes,
                            uint64_t* out_pos, uint32_t alpha);
void makeOpaqueSse2(uint8_t* pixels, uint64_t size);
#endif
#if (defined(__aarch64__) && !defined(__AARCH64EB__)) || defined(_M_ARM64)
#define BRISEL_RLE_NEON 1
extern const RleKernels RLE_KERNELS_NEON;
#endif

#endif  // BRISEL_IMAGECODEC_RLE_KERNELS_H
