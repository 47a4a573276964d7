// Reading and writing 32-bit true-colour Truevision TGA images.
//
// File layout (all 16-bit numbers little-endian):
//
//   offset  size  field
//        0     1  id_length         bytes in the image ID field that follows the header
//        1     1  color_map_type    0 = none, 1 = a colour map follows the ID field
//        2     1  image_type        2 = uncompressed true-colour, 10 = run-length encoded
//        3     5  color_map_spec    first index (16), length (16), entry size in bits (8)
//        8     2  x_origin
//       10     2  y_origin
//       12     2  width             pixels per row
//       14     2  height            rows
//       16     1  pixel_depth       bits per pixel; only 32 is accepted
//       17     1  image_descriptor  alpha-bit count and origin bits, never interpreted
//       18        the ID field (id_length bytes), then the colour map when
//                 color_map_type is 1 (length entries of (entry size + 7) / 8 bytes),
//                 then the pixel data.
//
// Pixels are 4 bytes each: blue, green, red, alpha. Rows come in the order the
// file stores them; the origin bits are carried through untouched, so the
// output stores its rows in the same order as the input.
//
// Type 2 stores width * height pixels as they are. Type 10 stores packets, each
// a header byte h followed by pixel bytes:
//
//   h = 0x00..0x7F  raw packet: h + 1 pixels follow, one after another
//   h = 0x80..0xFF  run packet: one pixel follows, standing for h - 127 pixels
//
// On input a packet may cross the end of a row. Packets written here never do;
// run packets hold 2 to 128 pixels and raw packets 1 to 121 (see rle_encode.cc).
// Anything after the pixel data (a TGA 2.0 footer, say) is ignored and not
// written back.
//
// The codec works on bytes through ByteSource and ByteSink, so the same code
// serves files, unit tests and the fuzzer, and includes no operating-system
// header. An image is never held whole: loadImage reads what comes before
// the pixels, and saveImage streams the pixels, opaque, a block of rows at a
// time, so that memory depends on the width of an image and not its height.

#ifndef BRISEL_IMAGECODEC_TGA_IMAGE_H
#define BRISEL_IMAGECODEC_TGA_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr uint8_t RLE_FLAG = 0x80;
constexpr uint8_t TGA_TYPE_TRUECOLOR = 2;
constexpr uint8_t TGA_TYPE_TRUECOLOR_RLE = 10;
constexpr size_t TGA_HEADER_SIZE = 18;
constexpr unsigned BYTES_PER_PIXEL = 4;
// Raw packets are flushed at this many pixels, although the format allows 128.
constexpr unsigned RLE_MAX_RAW_PIXELS = 121;
constexpr unsigned RLE_MAX_RUN_PIXELS = 128;

// The 18-byte file header, field for field. Kept as separate members rather
// than an overlay of the file bytes, so it does not depend on the host's byte
// order; readTgaHeader and writeTgaHeader convert.
struct TgaHeader {
  uint8_t id_length = 0;
  uint8_t color_map_type = 0;
  uint8_t image_type = 0;
  uint8_t color_map_spec[5] = {0, 0, 0, 0, 0};
  uint16_t x_origin = 0;
  uint16_t y_origin = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t pixel_depth = 0;
  uint8_t image_descriptor = 0;
};

// What comes before an image's pixels: the header, and the ID field and
// colour map, which are written back unchanged.
struct TgaImage {
  TgaHeader header;
  std::vector<uint8_t> id_and_color_map;
  // The input ended before every byte of the ID field, colour map or pixels
  // was supplied; the missing bytes are written as zero.
  bool truncated = false;
};

enum class TgaStatus { OK, NOT_TGA, NOT_32BIT, WRITE_FAILED };

// Pulls up to `size` bytes into `dst`; returns how many it stored, 0 at the
// end (or on an error, which the source's owner tells apart).
struct ByteSource {
  size_t (*read)(void* context, uint8_t* dst, size_t size);
  void* context;
};

// Pushes `size` bytes; returns false when they could not all be taken.
struct ByteSink {
  bool (*write)(void* context, const uint8_t* src, size_t size);
  // Starts the output again, empty, and sets `written` to read what it held
  // before, from its first byte, until the next restart or the end. False
  // when it cannot.
  bool (*restart)(void* context, ByteSource& written);
  void* context;
};

// A buffer kept from one image to the next, so that a batch allocates and
// faults in its memory once.
struct ReusedBytes {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
};

// saveImage's working memory, a few MiB whatever the image.
struct SaveBuffers {
  ReusedBytes stream;   // run-length input on its way to the decoder
  ReusedBytes earlier;  // the output written before a restart, read back
  ReusedBytes pixels;   // one block of rows
  ReusedBytes packets;  // run-length output on its way to the sink
};

enum class RowFormat : uint8_t { GUESS, PLAIN, RLE };

// How the rows travel. The defaults are measured ones; tests make the blocks
// tiny and the guesses wrong to reach every path.
struct SaveTuning {
  // Pixel bytes decoded and written at a time, rounded down to whole rows
  // (at least one). The first block decides the guess.
  size_t block_bytes = size_t{256} << 10;
  // Rows done before a running count may overturn the guess.
  size_t switch_bytes = size_t{1} << 20;
  // What the first block is taken to say: GUESS lets it decide.
  RowFormat first_guess = RowFormat::GUESS;
};

// --- header record (tga_header.cc) ---
void readTgaHeader(const uint8_t bytes[TGA_HEADER_SIZE], TgaHeader& header);
void writeTgaHeader(const TgaHeader& header, uint8_t bytes[TGA_HEADER_SIZE]);
// width * height * 4, which needs 64 bits: 65535 * 65535 * 4 is about 17 GiB.
uint64_t pixelByteCount(const TgaHeader& header);
// Bytes of the ID field plus the colour map that follow the header.
size_t idAndColorMapSize(const TgaHeader& header);

// --- loading and saving (tga_header.cc, tga_save.cc) ---
// Reads the header and, for a 32-bit type 2 or 10 image, the ID field and
// colour map into `image`, leaving `source` at the first byte of the pixels.
// OK, NOT_TGA (checked first) or NOT_32BIT.
TgaStatus loadImage(ByteSource& source, TgaImage& image);
// Streams the pixels that follow in `source` to `sink` as a whole file with
// every alpha byte 0xFF: run-length encoded exactly when the packets are
// smaller than the plain pixels. `source` is read once, to its end or the
// image's; when the format first guessed proves wrong, the file is made
// again from what the sink had written. Missing input bytes are written as
// zero pixels and set `image.truncated`. WRITE_FAILED when the sink fails;
// a source that fails looks ended, and is the caller's to tell apart.
TgaStatus saveImage(ByteSource& source, TgaImage& image, ByteSink& sink,
                    SaveBuffers& buffers, const SaveTuning& tuning = {});

// --- run-length packets (rle_decode.cc, rle_encode.cc) ---
// The decoder's state, the row kernels and their per-processor sets are in
// rle_kernels.h; these wrap them for a whole buffer.

// Decodes a whole packet stream into `pixels` (`pixel_bytes` long, a multiple
// of 4), cutting a packet that describes more pixels than remain. Returns the
// pixel bytes produced; the rest of `pixels` is zeroed, so a short stream
// never leaves stale memory behind.
uint64_t decodeRle(const uint8_t* stream, size_t size, uint8_t* pixels,
                   uint64_t pixel_bytes);
// Returns true and fills `stream` when the packet stream is strictly smaller
// than the plain pixels, which is when the image is written as type 10;
// false otherwise.
bool encodeRle(const uint8_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& stream);
// Sets byte 3 (alpha) of every 4-byte pixel to 0xFF; nothing else changes.
void makeOpaque(uint8_t* pixels, uint64_t size);

// --- bytes in memory (tga_header.cc, tga_save.cc): tests and the fuzzer ---
struct MemoryBytes {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
};
ByteSource memorySource(MemoryBytes& bytes);
// The output as bytes; a restart keeps what was written in `earlier`.
struct MemorySink {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> earlier;
  MemoryBytes reading{nullptr, 0};
};
ByteSink memorySink(MemorySink& sink);
// loadImage and saveImage on a whole file in memory; the output in `out`.
TgaStatus saveImageInMemory(const uint8_t* data, size_t size,
                            std::vector<uint8_t>& out, bool& truncated,
                            const SaveTuning& tuning = {});

#endif  // BRISEL_IMAGECODEC_TGA_IMAGE_H
