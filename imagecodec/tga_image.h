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
// The codec works on bytes in memory through ByteSource and ByteSink
// (tga_stream.h), so the same code serves files, unit tests and the fuzzer.
// The tool streams each image a block of rows at a time (row_stream.h); the
// whole-image functions below serve inputs that can be read only once, and
// are the independent path the tests hold the stream to. loadImage and
// saveImage, in imagefile/, attach the codec to files and print the
// messages, through the operating-system layer in system/.

#ifndef BRISEL_IMAGECODEC_TGA_IMAGE_H
#define BRISEL_IMAGECODEC_TGA_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

// width * height * 4 bytes of pixels in file order. The allocation is left
// uninitialised: every byte is either read from the file or zeroed explicitly.
// It may be larger than `size` (`capacity`): readTga keeps the block an image
// had, when it is large enough, for the next image read into the same record.
struct PixelBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  uint64_t size = 0;
  uint64_t capacity = 0;
  uint8_t* data() { return bytes.get(); }
  const uint8_t* data() const { return bytes.get(); }
};

// One loaded image: its header, the ID field and colour map bytes that sit
// between header and pixels (written back unchanged), and the pixels.
struct TgaImage {
  TgaHeader header;
  std::vector<uint8_t> id_and_color_map;
  PixelBuffer pixels;
  // The input ended before every byte of the ID field, colour map or pixels
  // was supplied; the missing bytes are zero.
  bool truncated = false;
};

enum class LoadStatus { OK, NOT_TGA, NOT_32BIT, TOO_LARGE };

// Streams are read and written through buffers of at most this size, so
// memory stays close to one decoded image whatever the file size.
constexpr size_t IO_CHUNK_BYTES = size_t{1} << 20;

// An uninitialised block kept from one image to the next.
struct ReusedBytes {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
};

// The working memory of reading and writing, owned by the caller so that a
// batch of files allocates, clears and faults it in once rather than once per
// file. Each buffer is sized to the image at hand (up to IO_CHUNK_BYTES, plus
// a row for the scratch), so a small image never pays for a large buffer.
struct CodecBuffers {
  ReusedBytes read_chunk;     // run-length stream on its way from the source
  ReusedBytes write_scratch;  // packets on their way to the sink
};

// --- header record (tga_header.cc) ---
void readTgaHeader(const uint8_t bytes[TGA_HEADER_SIZE], TgaHeader& header);
void writeTgaHeader(const TgaHeader& header, uint8_t bytes[TGA_HEADER_SIZE]);
// width * height * 4, which needs 64 bits: 65535 * 65535 * 4 is about 17 GiB.
uint64_t pixelByteCount(const TgaHeader& header);
// Bytes of the ID field plus the colour map that follow the header.
size_t idAndColorMapSize(const TgaHeader& header);

// --- run-length packets (rle_decode.cc, rle_encode.cc) ---
// The decoder's state, the row kernels and their per-processor sets are in
// rle_kernels.h.

// Decodes a whole packet stream into `pixels` (`pixel_bytes` long, a multiple
// of 4), cutting a packet that describes more pixels than remain. Returns the
// pixel bytes produced; the rest of `pixels` is zeroed, so a short stream
// never leaves stale memory behind.
uint64_t decodeRle(const uint8_t* stream, size_t size, uint8_t* pixels,
                   uint64_t pixel_bytes);
// The whole stream in memory (tests and the fuzzer). Returns true and fills
// `stream` when the packet stream is strictly smaller than the plain pixels,
// which is when the image is written as type 10; false otherwise.
bool encodeRle(const uint8_t* pixels, uint32_t width, uint32_t height,
               std::vector<uint8_t>& stream);

// Sets byte 3 (alpha) of every 4-byte pixel to 0xFF; nothing else changes.
void makeOpaque(uint8_t* pixels, uint64_t size);

// --- files (imagefile/tga_file.cc) ---
// Loads the image at `path`. On failure prints one of "%s not found",
// "%s cannot be read", "%s is not tga file", "%s is not 32bit tga file" or
// "%s is too large" and returns false.
bool loadImage(const char* path, TgaImage& image, CodecBuffers& buffers);
bool loadImage(const char* path, TgaImage& image);
// Writes the image to `path` so that the path holds either its old content
// or the whole new file, never a part. Returns false, leaving no file behind,
// when the header is not a loaded 32-bit image or the file cannot be written.
bool saveImage(const char* path, const TgaImage& image, CodecBuffers& buffers);
bool saveImage(const char* path, const TgaImage& image);

#endif  // BRISEL_IMAGECODEC_TGA_IMAGE_H
