// Whole images written to bytes: the header, the ID field and colour map,
// and the pixels, plain or as packets, to a ByteSink.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imagecodec/tga_one_pass.h"
#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_stream.h"

namespace {

bool writeMemory(void* context, const uint8_t* src, size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), src, src + size);
  return true;
}

bool clearMemory(void* context) {
  static_cast<std::vector<uint8_t>*>(context)->clear();
  return true;
}

// Writes the header, with the given image type, then the ID field and colour
// map.
bool writePrefix(const TgaImage& image, uint8_t image_type, ByteSink& sink) {
  TgaHeader out_header = image.header;
  out_header.image_type = image_type;
  uint8_t header_bytes[TGA_HEADER_SIZE];
  writeTgaHeader(out_header, header_bytes);
  if (!sink.write(sink.context, header_bytes, TGA_HEADER_SIZE)) return false;
  return image.id_and_color_map.empty() ||
         sink.write(sink.context, image.id_and_color_map.data(),
                    image.id_and_color_map.size());
}

// Encodes the rows through `scratch` into the sink. Gives up with
// START_OVER as soon as the stream reaches `limit` bytes.
WriteResult writeRleData(const TgaImage& image, ByteSink& sink,
                         uint8_t* scratch, size_t scratch_size,
                         uint64_t limit) {
  const uint32_t width = image.header.width;
  const size_t row_bytes = size_t{width} * 4;
  const size_t row_worst = size_t{width} * 5;
  uint64_t packed = 0;
  size_t used = 0;
  for (uint32_t y = 0; y < image.header.height; ++y) {
    if (scratch_size - used < row_worst) {
      if (!sink.write(sink.context, scratch, used)) return WriteResult::FAILED;
      used = 0;
    }
    size_t n = encodeRleRow(image.pixels.data() + y * row_bytes, width,
                            scratch + used);
    used += n;
    packed += n;
    if (packed >= limit) return WriteResult::START_OVER;
  }
  return used == 0 || sink.write(sink.context, scratch, used)
             ? WriteResult::OK
             : WriteResult::FAILED;
}

bool writePlainData(const TgaImage& image, ByteSink& sink) {
  const uint8_t* data = image.pixels.data();
  uint64_t left = image.pixels.size;
  while (left > 0) {
    size_t n =
        static_cast<size_t>(std::min<uint64_t>(left, 64 * IO_CHUNK_BYTES));
    if (!sink.write(sink.context, data, n)) return false;
    data += n;
    left -= n;
  }
  return true;
}

}  // namespace

size_t tgaWriteScratchSize(const TgaHeader& header) {
  const size_t row_worst = size_t{header.width} * 5;
  const uint64_t stream_worst = uint64_t{row_worst} * header.height;
  return std::max(row_worst, static_cast<size_t>(std::min<uint64_t>(
                                 IO_CHUNK_BYTES, stream_worst)));
}

namespace {

bool isWritable(const TgaImage& image, size_t scratch_size) {
  const TgaHeader& header = image.header;
  return header.image_type == TGA_TYPE_TRUECOLOR && header.pixel_depth == 32 &&
         image.pixels.size == pixelByteCount(header) &&
         scratch_size >= size_t{header.width} * 5;
}

}  // namespace

bool writeTga(const TgaImage& image, ByteSink& sink, uint8_t* scratch,
              size_t scratch_size) {
  if (!isWritable(image, scratch_size)) return false;
  const TgaHeader& header = image.header;
  const uint64_t packed =
      rleStreamSize(image.pixels.data(), header.width, header.height);
  if (packed >= image.pixels.size) {
    return writePrefix(image, TGA_TYPE_TRUECOLOR, sink) &&
           writePlainData(image, sink);
  }
  return writePrefix(image, TGA_TYPE_TRUECOLOR_RLE, sink) &&
         writeRleData(image, sink, scratch, scratch_size, UINT64_MAX) ==
             WriteResult::OK;
}

// Packets are only known to pay once every row has been sized, so the exact
// writer reads the pixels twice. When the first rows compress, this trusts
// that the rest will too and encodes each row once, giving up as soon as the
// stream reaches the plain size; the caller then starts again with writeTga,
// so the bytes written are the same either way.
WriteResult writeTgaInOnePass(const TgaImage& image, ByteSink& sink,
                              uint8_t* scratch, size_t scratch_size,
                              size_t guess_bytes) {
  if (!isWritable(image, scratch_size)) return WriteResult::FAILED;
  const TgaHeader& header = image.header;
  const uint64_t plain = image.pixels.size;
  const size_t row_bytes = size_t{header.width} * 4;
  bool guess_pays = false;
  if (plain > 0) {
    const uint32_t rows = static_cast<uint32_t>(std::min<size_t>(
        header.height, std::max<size_t>(1, guess_bytes / row_bytes)));
    guess_pays = rleStreamSize(image.pixels.data(), header.width, rows) <
                 uint64_t{rows} * row_bytes;
  }
  if (!guess_pays) {
    return writeTga(image, sink, scratch, scratch_size) ? WriteResult::OK
                                                        : WriteResult::FAILED;
  }
  if (!writePrefix(image, TGA_TYPE_TRUECOLOR_RLE, sink)) {
    return WriteResult::FAILED;
  }
  return writeRleData(image, sink, scratch, scratch_size, plain);
}

ByteSink vectorSink(std::vector<uint8_t>& out) {
  return {writeMemory, &out, clearMemory};
}

std::vector<uint8_t> writeTgaToMemory(const TgaImage& image) {
  std::vector<uint8_t> out;
  // Packets are only written when smaller than the plain pixels, so this is
  // the most the file takes: one allocation instead of a growing series.
  out.reserve(TGA_HEADER_SIZE + image.id_and_color_map.size() +
              static_cast<size_t>(image.pixels.size));
  ByteSink sink = vectorSink(out);
  ReusedBytes scratch;
  const size_t scratch_size = tgaWriteScratchSize(image.header);
  if (!writeTga(image, sink, reserveBytes(scratch, scratch_size),
                scratch_size)) {
    out.clear();
  }
  return out;
}
