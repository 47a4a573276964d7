// saveImage: the pixels streamed a block of rows at a time, read, decoded,
// made opaque, sized and written through a few small buffers.
//
// The output must be run-length encoded exactly when the whole packet stream
// is smaller than the plain pixels, which is only known at the last row. So
// the format is guessed from the first block of rows and written while both
// sizes are counted. Once `switch_bytes` of rows are done, a running count
// that contradicts the guess starts the file over in the other format (once);
// a guess still wrong at the end starts it over in the format now known.
// Starting over at row y restarts the sink: rows before y are read back from
// what it had written, and the rest come on from the source as before, so
// the source is read once, and an input rewritten meanwhile cannot mix two
// versions into one file.

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "imagecodec/row_io.h"
#include "imagecodec/tga_image.h"

namespace {

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

bool writePrefixAlone(const TgaImage& image, const Geometry& g,
                      RowFormat format, ByteSink& sink) {
  std::vector<uint8_t> prefix(static_cast<size_t>(g.prefix_bytes));
  fillPrefix(image, format, prefix.data());
  return sink.write(sink.context, prefix.data(), prefix.size());
}

// One pass over the pixels, and what it says of the next.
struct PassPlan {
  RowFormat format;
  bool certain = false;     // the format is known right: nothing to count
  bool may_switch = false;  // a running count may still overturn it
};

struct PassResult {
  TgaStatus status = TgaStatus::OK;
  bool start_over = false;
  PassPlan next{RowFormat::PLAIN};
  RowFormat written = RowFormat::PLAIN;  // the format the sink holds
  uint32_t rows_written = 0;             // the rows it holds
};

RowFormat formatFor(uint64_t packed, uint64_t plain) {
  return packed < plain ? RowFormat::RLE : RowFormat::PLAIN;
}

RowFormat other(RowFormat format) {
  return format == RowFormat::RLE ? RowFormat::PLAIN : RowFormat::RLE;
}

// Rows from the output written before a restart, then from the input.
struct RowSource {
  RowReader& input;
  std::optional<RowReader> earlier;
  uint32_t earlier_rows = 0;
};

struct Pass {
  const TgaImage& image;
  ByteSink& sink;
  SaveBuffers& buffers;
  const SaveTuning& tuning;
  const Geometry& g;
  uint8_t* block_base = nullptr;

  PassResult run(const PassPlan& plan, RowSource& rows_in) {
    PacketWriter packets(sink, g, buffers.packets);
    block_base =
        reserveBytes(buffers.pixels, g.block_rows * g.row_bytes + PAGE_BYTES);
    RowFormat format = plan.format;
    bool checked = plan.certain || !plan.may_switch;
    bool prefix_due = true;
    uint64_t packed = 0;
    for (uint32_t y = 0; y < g.height; y += g.block_rows) {
      const uint32_t rows = std::min(g.block_rows, g.height - y);
      const size_t bytes = rows * g.row_bytes;
      const uint64_t done = uint64_t{y} * g.row_bytes + bytes;
      // The output of a plain image is written from this block, at the
      // same file offset as a plain input's bytes came from.
      uint8_t* block = placeFor(block_base, g.prefix_bytes + done - bytes);
      if (y < rows_in.earlier_rows) {
        if (!rows_in.earlier->read(block, bytes)) return failedWrite();
      } else {
        rows_in.input.read(block, bytes);
      }
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
        if (!writePlain(block, bytes, with_prefix)) return failedWrite();
      } else {
        if (with_prefix && !putPrefix(packets)) return failedWrite();
        packed += packets.encode(block, rows);
      }
      if (packets.failed()) return failedWrite();
      // Rows read back from an earlier output are all taken before the
      // file can start over again: they are in no other file.
      if (plan.certain || y + rows < rows_in.earlier_rows) continue;
      // Packets as large as the plain image can never pay.
      if (format == RowFormat::RLE && packed >= g.plain_bytes) {
        return startOver(packets, {RowFormat::PLAIN, true}, format, y + rows);
      }
      if (!checked && done >= tuning.switch_bytes) {
        checked = true;
        if (formatFor(packed, done) != format) {
          return startOver(packets, {other(format), false}, format, y + rows);
        }
      }
    }
    if (!packets.flush()) return failedWrite();
    const RowFormat decided = formatFor(packed, g.plain_bytes);
    if (!plan.certain && decided != format) {
      return startOver(packets, {decided, true}, format, g.height);
    }
    return PassResult();
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
    } else if (with_prefix &&
               !writePrefixAlone(image, g, RowFormat::PLAIN, sink)) {
      return false;
    }
    return sink.write(sink.context, block, bytes);
  }

  bool putPrefix(PacketWriter& packets) {
    const size_t size = static_cast<size_t>(g.prefix_bytes);
    if (size > packets.room()) {
      return writePrefixAlone(image, g, RowFormat::RLE, sink);
    }
    fillPrefix(image, RowFormat::RLE, packets.takeRoom(size));
    return true;
  }

  static PassResult failedWrite() {
    PassResult result;
    result.status = TgaStatus::WRITE_FAILED;
    return result;
  }

  // The sink must hold every row done, to be read back.
  static PassResult startOver(PacketWriter& packets, const PassPlan& next,
                              RowFormat written, uint32_t rows_written) {
    if (!packets.flush()) return failedWrite();
    PassResult result;
    result.start_over = true;
    result.next = next;
    result.written = written;
    result.rows_written = rows_written;
    return result;
  }
};

// Moves `source` past the prefix of the output it reads.
bool skipPrefix(ByteSource& source, uint64_t prefix_bytes) {
  uint8_t skipped[PAGE_BYTES];
  for (uint64_t left = prefix_bytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, PAGE_BYTES));
    if (readSource(source, skipped, n) < n) return false;
    left -= n;
  }
  return true;
}

}  // namespace

TgaStatus saveImage(ByteSource& source, TgaImage& image, ByteSink& sink,
                    SaveBuffers& buffers, const SaveTuning& tuning) {
  const Geometry g = geometryOf(image, tuning.block_bytes);
  if (g.plain_bytes == 0) {
    return writePrefixAlone(image, g, RowFormat::PLAIN, sink)
               ? TgaStatus::OK
               : TgaStatus::WRITE_FAILED;
  }
  RowReader input(source, g, image.header.image_type == TGA_TYPE_TRUECOLOR_RLE,
                  buffers.stream);
  RowSource rows{input, std::nullopt};
  ByteSource written{nullptr, nullptr};
  Pass pass{image, sink, buffers, tuning, g};
  PassPlan plan{RowFormat::GUESS, false, true};
  for (;;) {
    const PassResult result = pass.run(plan, rows);
    if (!result.start_over) {
      image.truncated = image.truncated || input.ranShort();
      return result.status;
    }
    rows.earlier.reset();
    if (!sink.restart(sink.context, written) ||
        !skipPrefix(written, g.prefix_bytes)) {
      return TgaStatus::WRITE_FAILED;
    }
    rows.earlier.emplace(written, g, result.written == RowFormat::RLE,
                         buffers.earlier);
    rows.earlier_rows = result.rows_written;
    plan = result.next;
  }
}

namespace {

bool writeMemory(void* context, const uint8_t* src, size_t size) {
  auto& sink = *static_cast<MemorySink*>(context);
  sink.bytes.insert(sink.bytes.end(), src, src + size);
  return true;
}

bool restartMemory(void* context, ByteSource& written) {
  auto& sink = *static_cast<MemorySink*>(context);
  std::swap(sink.bytes, sink.earlier);
  sink.bytes.clear();
  sink.reading = MemoryBytes{sink.earlier.data(), sink.earlier.size()};
  written = memorySource(sink.reading);
  return true;
}

}  // namespace

ByteSink memorySink(MemorySink& sink) {
  return {writeMemory, restartMemory, &sink};
}

TgaStatus saveImageInMemory(const uint8_t* data, size_t size,
                            std::vector<uint8_t>& out, bool& truncated,
                            const SaveTuning& tuning) {
  out.clear();
  MemoryBytes bytes{data, size};
  ByteSource source = memorySource(bytes);
  TgaImage image;
  TgaStatus status = loadImage(source, image);
  if (status != TgaStatus::OK) return status;
  MemorySink memory;
  memory.bytes.swap(out);
  ByteSink sink = memorySink(memory);
  SaveBuffers buffers;
  status = saveImage(source, image, sink, buffers, tuning);
  out.swap(memory.bytes);
  truncated = image.truncated;
  return status;
}
