#include "imagecodec/row_io.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define BRISEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISEL_ASAN 1
#endif
#endif
#ifdef BRISEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// A block kept for reuse may be larger than what is put in it. Under
// AddressSanitizer the bytes past `used` are marked unaddressable, so that a
// store past the buffer is still caught, as it would be in a block of the
// exact size.
void fenceUnused(uint8_t* data, size_t used, size_t capacity) {
#ifdef BRISEL_ASAN
  ASAN_UNPOISON_MEMORY_REGION(data, used);
  ASAN_POISON_MEMORY_REGION(data + used, capacity - used);
#else
  (void)data;
  (void)used;
  (void)capacity;
#endif
}

}  // namespace

uint8_t* reserveBytes(ReusedBytes& buffer, size_t size) {
  if (!buffer.bytes || size > buffer.capacity) {
    buffer = ReusedBytes();
    buffer.bytes.reset(new uint8_t[std::max<size_t>(size, 1)]);
    buffer.capacity = size;
  }
  fenceUnused(buffer.bytes.get(), size, buffer.capacity);
  return buffer.bytes.get();
}

Geometry geometryOf(const TgaImage& image, size_t block_bytes) {
  Geometry g;
  g.width = image.header.width;
  g.height = image.header.height;
  g.row_bytes = size_t{g.width} * 4;
  g.row_worst = size_t{g.width} * 5;
  const size_t rows = g.row_bytes == 0 ? 1 : block_bytes / g.row_bytes;
  g.block_rows = static_cast<uint32_t>(
      std::clamp<size_t>(rows, 1, std::max<uint32_t>(g.height, 1)));
  g.plain_bytes = pixelByteCount(image.header);
  g.prefix_bytes = TGA_HEADER_SIZE + image.id_and_color_map.size();
  return g;
}

RowReader::RowReader(ByteSource& source, const Geometry& g, bool rle,
                     ReusedBytes& chunk_buffer)
    : source_(source), rle_(rle), offset_(g.prefix_bytes) {
  decoder_.alpha = 0xFF;
  if (rle_) {
    chunk_ = stream_ = reserveBytes(chunk_buffer, IO_CHUNK_BYTES + PAGE_BYTES);
  }
}

bool RowReader::read(uint8_t* pixels, size_t size) {
  size_t got = 0;
  if (rle_) {
    got = decode(pixels, size);
  } else if (!ended_) {
    got = readSource(source_, pixels, size);
  }
  // The decoder makes its pixels opaque as it goes.
  const size_t opaque = rle_ ? got & ~size_t{3} : 0;
  if (got < size) {
    std::memset(pixels + got, 0, size - got);
    ended_ = true;
    short_ = true;
  }
  makeOpaque(pixels + opaque, size - opaque);
  return got == size;
}

// A packet left open at the end of the last block goes on first, even with
// no stream bytes left: a run's pixel is already at hand.
size_t RowReader::decode(uint8_t* pixels, size_t size) {
  decoder_.out_pos = 0;
  do {
    pos_ += decodeRleChunk(decoder_, chunk_ + pos_, len_ - pos_, pixels, size);
  } while (decoder_.out_pos < size && refill());
  return static_cast<size_t>(decoder_.out_pos);
}

bool RowReader::refill() {
  if (ended_) return false;
  chunk_ = placeFor(stream_, offset_);
  len_ = source_.read(source_.context, chunk_, IO_CHUNK_BYTES);
  pos_ = 0;
  offset_ += len_;
  ended_ = len_ == 0;
  return !ended_;
}

PacketWriter::PacketWriter(ByteSink& sink, const Geometry& g,
                           ReusedBytes& buffer)
    : sink_(sink),
      g_(g),
      // A whole block fits, so that the first is held until the guess.
      flush_at_(std::max(IO_CHUNK_BYTES, g.block_rows * g.row_worst)),
      base_(reserveBytes(buffer, flush_at_ + g.row_worst + PAGE_BYTES)),
      offset_(g.prefix_bytes),
      start_(placeFor(base_, offset_)) {}

uint64_t PacketWriter::encode(const uint8_t* pixels, uint32_t rows) {
  uint64_t total = 0;
  for (uint32_t y = 0; y < rows; ++y) {
    if (used_ + g_.row_worst > flush_at_) flush();
    const size_t n =
        encodeRleRow(pixels + y * g_.row_bytes, g_.width, start_ + used_);
    used_ += n;
    total += n;
  }
  return total;
}

uint8_t* PacketWriter::takeRoom(size_t size) {
  start_ -= size;
  used_ += size;
  return start_;
}

bool PacketWriter::flush() {
  if (used_ > 0) failed_ |= !sink_.write(sink_.context, start_, used_);
  offset_ += used_;
  start_ = placeFor(base_, offset_);
  used_ = 0;
  return !failed_;
}
