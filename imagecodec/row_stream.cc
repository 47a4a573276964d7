// Images made opaque a block of rows at a time (see row_stream.h).

#include "imagecodec/row_stream.h"

#include <algorithm>
#include <cstring>

#include "imagecodec/rle_kernels.h"

namespace {

// The system copies file data a page at a time.
constexpr size_t PAGE_BYTES = 4096;

// Where the bytes of file offset `offset` go in a buffer with a page of room.
uint8_t* placeFor(uint8_t* base, uint64_t offset) {
  return base + offset % PAGE_BYTES;
}

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

Geometry geometryOf(const TgaImage& image, const RowStreamTuning& tuning) {
  Geometry g;
  g.width = image.header.width;
  g.height = image.header.height;
  g.row_bytes = size_t{g.width} * 4;
  g.row_worst = size_t{g.width} * 5;
  const size_t rows = g.row_bytes == 0 ? 1 : tuning.block_bytes / g.row_bytes;
  g.block_rows = static_cast<uint32_t>(
      std::clamp<size_t>(rows, 1, std::max<uint32_t>(g.height, 1)));
  g.plain_bytes = pixelByteCount(image.header);
  g.prefix_bytes = TGA_HEADER_SIZE + image.id_and_color_map.size();
  return g;
}

// Gives the rows of one pass a block at a time, decoded and made opaque.
// Bytes the source does not have are zero, as readTga gives them.
class RowReader {
 public:
  RowReader(ByteSource& source, const Geometry& g, bool rle,
            RowStreamBuffers& buffers)
      : source_(source), rle_(rle), offset_(g.prefix_bytes) {
    decoder_.alpha = 0xFF;
    if (rle_) chunk_ = stream_ = reserveBytes(buffers.stream, CHUNK + PAGE_BYTES);
  }

  void read(uint8_t* pixels, size_t size) {
    size_t got = rle_ ? decode(pixels, size) : plain(pixels, size);
    // The decoder makes its pixels opaque as it goes.
    size_t opaque = rle_ ? got & ~size_t{3} : 0;
    if (got < size) {
      std::memset(pixels + got, 0, size - got);
      ended_ = true;
      short_ = true;
    }
    makeOpaque(pixels + opaque, size - opaque);
  }

  bool ranShort() const { return short_; }

 private:
  static constexpr size_t CHUNK = IO_CHUNK_BYTES;

  size_t plain(uint8_t* pixels, size_t size) {
    return ended_ ? 0 : readSource(source_, pixels, size);
  }

  // A packet left open at the end of the last block goes on first, even
  // with no stream bytes left: a run's pixel is already at hand.
  size_t decode(uint8_t* pixels, size_t size) {
    decoder_.out_pos = 0;
    do {
      pos_ += decodeRleChunk(decoder_, chunk_ + pos_, len_ - pos_, pixels,
                             size);
    } while (decoder_.out_pos < size && refill());
    return static_cast<size_t>(decoder_.out_pos);
  }

  bool refill() {
    if (ended_) return false;
    chunk_ = placeFor(stream_, offset_);
    len_ = source_.read(source_.context, chunk_, CHUNK);
    pos_ = 0;
    offset_ += len_;
    ended_ = len_ == 0;
    return !ended_;
  }

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
  PacketWriter(ByteSink& sink, const Geometry& g, RowStreamBuffers& buffers)
      : sink_(sink),
        g_(g),
        // A whole block fits, so that the first is held until the guess.
        flush_at_(std::max(IO_CHUNK_BYTES, g.block_rows * g.row_worst)),
        base_(reserveBytes(buffers.packets,
                           flush_at_ + g.row_worst + PAGE_BYTES)),
        offset_(g.prefix_bytes),
        start_(placeFor(base_, offset_)) {}

  // Encodes the rows; returns their packet bytes.
  uint64_t encode(const uint8_t* pixels, uint32_t rows) {
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

  void discard() { used_ = 0; }

  // Room in front of the first packets, where the prefix can go so that
  // it is written with them.
  size_t room() const { return static_cast<size_t>(start_ - base_); }
  uint8_t* takeRoom(size_t size) {
    start_ -= size;
    used_ += size;
    return start_;
  }

  bool flush() {
    if (used_ > 0) failed_ |= !sink_.write(sink_.context, start_, used_);
    offset_ += used_;
    start_ = placeFor(base_, offset_);
    used_ = 0;
    return !failed_;
  }

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

// The header for `format`, the ID field and the colour map, into `dst`.
void fillPrefix(const TgaImage& image, RowFormat format, uint8_t* dst) {
  TgaHeader header = image.header;
  header.image_type = format == RowFormat::RLE ? TGA_TYPE_TRUECOLOR_RLE
                                               : TGA_TYPE_TRUECOLOR;
  writeTgaHeader(header, dst);
  if (!image.id_and_color_map.empty()) {
    std::memcpy(dst + TGA_HEADER_SIZE, image.id_and_color_map.data(),
                image.id_and_color_map.size());
  }
}

// One pass over the pixels, and what it says of the next.
struct PassPlan {
  RowFormat format;
  bool certain = false;     // the format is known right: nothing to count
  bool may_switch = false;  // a running count may still overturn it
  bool size_only = false;   // count, write nothing
};

struct PassResult {
  RowStreamStatus status = RowStreamStatus::OK;
  bool start_over = false;
  PassPlan next{RowFormat::PLAIN};
  bool ran_short = false;
};

RowFormat formatFor(uint64_t packed, uint64_t plain) {
  return packed < plain ? RowFormat::RLE : RowFormat::PLAIN;
}

RowFormat other(RowFormat format) {
  return format == RowFormat::RLE ? RowFormat::PLAIN : RowFormat::RLE;
}

struct Pass {
  ByteSource& source;
  const TgaImage& image;
  ByteSink& sink;
  RowStreamBuffers& buffers;
  const RowStreamTuning& tuning;
  const Geometry& g;
  uint8_t* block_base = nullptr;

  PassResult run(const PassPlan& plan) {
    PassResult result;
    if (g.plain_bytes == 0) {
      if (!writePrefixAlone(RowFormat::PLAIN)) return failedWrite();
      return result;
    }
    RowReader reader(source, g,
                     image.header.image_type == TGA_TYPE_TRUECOLOR_RLE,
                     buffers);
    PacketWriter packets(sink, g, buffers);
    block_base =
        reserveBytes(buffers.pixels, g.block_rows * g.row_bytes + PAGE_BYTES);
    RowFormat format = plan.format;
    bool checked = plan.certain || !plan.may_switch;
    bool prefix_due = !plan.size_only;
    uint64_t packed = 0;
    for (uint32_t y = 0; y < g.height; y += g.block_rows) {
      const uint32_t rows = std::min(g.block_rows, g.height - y);
      const size_t bytes = rows * g.row_bytes;
      const uint64_t done = uint64_t{y} * g.row_bytes + bytes;
      // The output of a plain image is written from this block, at the
      // same file offset as a plain input's bytes came from.
      uint8_t* block = placeFor(block_base, g.prefix_bytes + done - bytes);
      reader.read(block, bytes);
      const bool with_prefix = prefix_due;
      prefix_due = false;
      if (format == RowFormat::GUESS) {
        // The first block is encoded to guess: when packets pay, as they
        // mostly do, they are then at hand; when not, they cost little more
        // than sizing.
        const uint64_t block_packed = packets.encode(block, rows);
        packed += block_packed;
        format = tuning.first_guess != RowFormat::GUESS
                     ? tuning.first_guess
                     : formatFor(block_packed, bytes);
        if (format == RowFormat::PLAIN) {
          packets.discard();
          if (!writePlain(block, bytes, with_prefix)) return failedWrite();
        } else if (with_prefix && !putPrefix(packets)) {
          return failedWrite();
        }
      } else if (format == RowFormat::PLAIN) {
        if (!plan.certain) packed += rleStreamSize(block, g.width, rows);
        if (!plan.size_only && !writePlain(block, bytes, with_prefix)) {
          return failedWrite();
        }
      } else {
        if (with_prefix && !putPrefix(packets)) return failedWrite();
        packed += packets.encode(block, rows);
      }
      if (packets.failed()) return failedWrite();
      if (plan.certain) continue;
      // Packets as large as the plain image can never pay.
      if (format == RowFormat::RLE && packed >= g.plain_bytes) {
        return startOver({RowFormat::PLAIN, true});
      }
      if (!checked && done >= tuning.switch_bytes) {
        checked = true;
        if (formatFor(packed, done) != format) {
          return startOver({other(format), false});
        }
      }
    }
    if (!packets.flush()) return failedWrite();
    result.ran_short = reader.ranShort();
    const RowFormat decided = formatFor(packed, g.plain_bytes);
    if (plan.size_only || (!plan.certain && decided != format)) {
      return startOver({decided, true});
    }
    return result;
  }

  // The prefix goes out with the first data, in front of them where their
  // buffer leaves room (always, unless a colour map is large), to save a
  // write for each file; otherwise on its own just before.
  bool writePlain(uint8_t* block, size_t bytes, bool with_prefix) {
    const size_t size = static_cast<size_t>(g.prefix_bytes);
    if (with_prefix && size <= static_cast<size_t>(block - block_base)) {
      block -= size;
      bytes += size;
      fillPrefix(image, RowFormat::PLAIN, block);
    } else if (with_prefix && !writePrefixAlone(RowFormat::PLAIN)) {
      return false;
    }
    return sink.write(sink.context, block, bytes);
  }

  bool putPrefix(PacketWriter& packets) {
    const size_t size = static_cast<size_t>(g.prefix_bytes);
    if (size > packets.room()) return writePrefixAlone(RowFormat::RLE);
    fillPrefix(image, RowFormat::RLE, packets.takeRoom(size));
    return true;
  }

  bool writePrefixAlone(RowFormat format) {
    std::vector<uint8_t> prefix(static_cast<size_t>(g.prefix_bytes));
    fillPrefix(image, format, prefix.data());
    return sink.write(sink.context, prefix.data(), prefix.size());
  }

  static PassResult failedWrite() {
    PassResult result;
    result.status = RowStreamStatus::WRITE_FAILED;
    return result;
  }

  static PassResult startOver(const PassPlan& next) {
    PassResult result;
    result.start_over = true;
    result.next = next;
    return result;
  }
};

// Back to the first pixel byte, past the prefix read before.
bool rewindToPixels(ByteSource& source, uint64_t prefix_bytes) {
  if (!source.rewind || !source.rewind(source.context)) return false;
  uint8_t skipped[PAGE_BYTES];
  for (uint64_t left = prefix_bytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, PAGE_BYTES));
    if (readSource(source, skipped, n) < n) return true;  // a short file
    left -= n;
  }
  return true;
}

PassPlan firstPlan(const Geometry& g, const ByteSink& sink) {
  if (g.plain_bytes == 0) return {RowFormat::PLAIN, true};
  if (!sink.restart) {
    PassPlan sizing{RowFormat::PLAIN};
    sizing.size_only = true;
    return sizing;
  }
  return {RowFormat::GUESS, false, true};
}

}  // namespace

RowStreamStatus writeOpaqueRows(ByteSource& source, TgaImage& image,
                                ByteSink& sink, RowStreamBuffers& buffers,
                                const RowStreamTuning& tuning) {
  const Geometry g = geometryOf(image, tuning);
  Pass pass{source, image, sink, buffers, tuning, g};
  PassPlan plan = firstPlan(g, sink);
  for (;;) {
    const PassResult result = pass.run(plan);
    if (!result.start_over) {
      image.truncated = image.truncated || result.ran_short;
      return result.status;
    }
    if (!rewindToPixels(source, g.prefix_bytes)) {
      return RowStreamStatus::READ_FAILED;
    }
    if (!plan.size_only && !sink.restart(sink.context)) {
      return RowStreamStatus::WRITE_FAILED;
    }
    plan = result.next;
  }
}

LoadStatus writeOpaqueRowsInMemory(const uint8_t* data, size_t size,
                                   std::vector<uint8_t>& out, bool& truncated,
                                   const RowStreamTuning& tuning,
                                   bool in_place) {
  out.clear();
  MemoryBytes bytes{data, size};
  ByteSource source = memorySource(bytes);
  TgaImage image;
  const LoadStatus status = readTgaPrefix(source, image);
  if (status != LoadStatus::OK) return status;
  ByteSink sink = vectorSink(out);
  if (in_place) sink.restart = nullptr;
  RowStreamBuffers buffers;
  writeOpaqueRows(source, image, sink, buffers, tuning);
  truncated = image.truncated;
  return status;
}
