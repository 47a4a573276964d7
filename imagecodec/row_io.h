// The two ends of saveImage's stream: rows read and decoded from a source,
// and packets gathered for a sink. Internal to the codec.

#ifndef BRISEL_IMAGECODEC_ROW_IO_H
#define BRISEL_IMAGECODEC_ROW_IO_H

#include <cstddef>
#include <cstdint>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"

// Streams are read and written through buffers of about this size.
constexpr size_t IO_CHUNK_BYTES = size_t{1} << 20;

// The system copies file data a page at a time. Each I/O buffer has a page
// of room, so that its data can sit at the same offset within a page as the
// file bytes they are copied from or to: those copies then run aligned.
constexpr size_t PAGE_BYTES = 4096;

// Where the bytes of file offset `offset` go in a buffer with a page of room.
inline uint8_t* placeFor(uint8_t* base, uint64_t offset) {
  return base + offset % PAGE_BYTES;
}

// Makes `buffer` at least `size` bytes long and returns it; throws
// std::bad_alloc as new does. A block already large enough is kept, contents
// and all; a smaller one is released before the larger one is allocated.
uint8_t* reserveBytes(ReusedBytes& buffer, size_t size);

// Reads until `size` bytes are stored or the source ends; returns how many.
size_t readSource(ByteSource& source, uint8_t* dst, size_t size);

// The image's shape, fixed for all passes over it.
struct Geometry {
  uint32_t width;
  uint32_t height;
  size_t row_bytes;
  size_t row_worst;       // the longest packets a row can need
  uint32_t block_rows;
  uint64_t plain_bytes;   // all pixel bytes
  uint64_t prefix_bytes;  // header, ID field and colour map: where pixels start
};

Geometry geometryOf(const TgaImage& image, size_t block_bytes);

// Gives the rows of a file, from its first pixel byte on, a block at a time,
// decoded and made opaque. Bytes the source does not have are zero.
class RowReader {
 public:
  RowReader(ByteSource& source, const Geometry& g, bool rle,
            ReusedBytes& chunk_buffer);
  // False when the source ran out first.
  bool read(uint8_t* pixels, size_t size);
  bool ranShort() const { return short_; }

 private:
  size_t decode(uint8_t* pixels, size_t size);
  bool refill();

  ByteSource& source_;
  const bool rle_;
  uint64_t offset_;  // file offset of the next byte the source gives
  bool ended_ = false;
  bool short_ = false;
  RleDecoder decoder_;
  uint8_t* stream_ = nullptr;
  uint8_t* chunk_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
};

// Gathers packets and hands them to the sink about IO_CHUNK_BYTES at a time.
class PacketWriter {
 public:
  PacketWriter(ByteSink& sink, const Geometry& g, ReusedBytes& buffer);

  // Encodes the rows; returns their packet bytes.
  uint64_t encode(const uint8_t* pixels, uint32_t rows);
  void discard() { used_ = 0; }

  // Room in front of the first packets, where the prefix can go so that it
  // is written with them.
  size_t room() const { return static_cast<size_t>(start_ - base_); }
  uint8_t* takeRoom(size_t size);

  bool flush();
  bool failed() const { return failed_; }

 private:
  ByteSink& sink_;
  const Geometry& g_;
  const size_t flush_at_;
  uint8_t* const base_;
  uint64_t offset_;  // file offset of the first byte not yet written
  uint8_t* start_;
  size_t used_ = 0;
  bool failed_ = false;
};

#endif  // BRISEL_IMAGECODEC_ROW_IO_H
