// Whole images on bytes: the header, the ID field and colour map, and the
// pixel data, read from a ByteSource and written to a ByteSink.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "imagecodec/tga_image.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

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

// Reads until `size` bytes are stored or the source ends.
size_t readFully(ByteSource& source, uint8_t* dst, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t n = source.read(source.context, dst + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// Asks for 2 MiB pages under the part of a large buffer they can cover.
// With 4 KiB pages the first touch of a 64 MiB image costs 16384 page
// faults, more time than decoding it. Only a hint: where the kernel does not
// take it, the buffer works the same.
void preferHugePages(uint8_t* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
  uintptr_t begin = reinterpret_cast<uintptr_t>(data);
  uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t last = (begin + size) & ~(kHugePage - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)size;
#endif
}

// A block kept for reuse may be larger than what is put in it. Under
// AddressSanitizer the bytes past `used` are marked unaddressable, so that a
// store past the image or the buffer is still caught, as it would be in a
// block of the exact size.
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

// Uses the block `pixels` holds when it is large enough: a batch of images
// then faults its pixel memory in once, not once per file.
bool allocatePixels(uint64_t size, PixelBuffer& pixels) {
  if (size > uint64_t{std::numeric_limits<ptrdiff_t>::max()}) return false;
  if (pixels.bytes && size <= pixels.capacity) {
    pixels.size = size;
    fenceUnused(pixels.data(), static_cast<size_t>(size),
                static_cast<size_t>(pixels.capacity));
    return true;
  }
  // The old block goes before the new one comes, so that memory never holds
  // two images.
  pixels = PixelBuffer();
  pixels.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (!pixels.bytes) return false;
  pixels.size = size;
  pixels.capacity = size;
  preferHugePages(pixels.data(), static_cast<size_t>(size));
  return true;
}

// Empties `image` for the next one read into it, keeping its memory.
void clearImage(TgaImage& image) {
  PixelBuffer kept = std::move(image.pixels);
  std::vector<uint8_t> extras = std::move(image.id_and_color_map);
  image = TgaImage();
  image.pixels = std::move(kept);
  image.pixels.size = 0;
  image.id_and_color_map = std::move(extras);
  image.id_and_color_map.clear();
}

// Fills the pixels with plain data; returns false when the source ran short.
bool readPlainPixels(ByteSource& source, PixelBuffer& pixels) {
  size_t size = static_cast<size_t>(pixels.size);
  size_t got = readFully(source, pixels.data(), size);
  if (got == size) return true;
  std::memset(pixels.data() + got, 0, size - got);
  return false;
}

// Decodes the packet stream as it arrives, reading no further than the chunk
// that completes the image. Returns false when the stream ran short.
bool readRlePixels(ByteSource& source, PixelBuffer& pixels,
                   ReusedBytes& chunk_buffer) {
  if (pixels.size == 0) return true;
  // The longest stream that can fill the image is one single-pixel raw
  // packet, 5 bytes, per 4 pixel bytes; a larger chunk would never be filled
  // by a file that ends with its pixels.
  const size_t chunk_size = static_cast<size_t>(
      std::min<uint64_t>(IO_CHUNK_BYTES, pixels.size + pixels.size / 4));
  uint8_t* chunk = reserveBytes(chunk_buffer, chunk_size);
  RleDecoder decoder;
  while (decoder.out_pos < pixels.size) {
    size_t n = source.read(source.context, chunk, chunk_size);
    if (n == 0) break;
    decodeRleChunk(decoder, chunk, n, pixels.data(), pixels.size);
  }
  if (decoder.out_pos == pixels.size) return true;
  std::memset(pixels.data() + decoder.out_pos, 0,
              static_cast<size_t>(pixels.size - decoder.out_pos));
  return false;
}

size_t readMemory(void* context, uint8_t* dst, size_t size) {
  auto* span = static_cast<std::pair<const uint8_t*, size_t>*>(context);
  size_t n = std::min(size, span->second);
  if (n > 0) std::memcpy(dst, span->first, n);
  span->first += n;
  span->second -= n;
  return n;
}

bool writeMemory(void* context, const uint8_t* src, size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), src, src + size);
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

// Whether the pixels, with the buffers that reading and writing them take,
// fit in the memory the process can still get. What the record and buffers
// already hold is in use now and is reused or released before anything
// larger comes, so it counts as room; counting it twice would refuse images
// that fit. Only an image that needs more than that asks `available_memory`,
// which reads system files: a batch of images no larger than the largest
// before it asks nothing.
bool fitsMemory(const TgaHeader& header, const PixelBuffer& pixels,
                const CodecBuffers& buffers, uint64_t (*available_memory)()) {
  const uint64_t need =
      pixelByteCount(header) + IO_CHUNK_BYTES + tgaWriteScratchSize(header);
  const uint64_t held = pixels.capacity + buffers.read_chunk.capacity +
                        buffers.write_scratch.capacity;
  if (need <= held || !available_memory) return true;
  return need - held <= available_memory();
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

LoadStatus readTga(ByteSource& source, TgaImage& image,
                   CodecBuffers& buffers, uint64_t (*available_memory)()) {
  clearImage(image);
  uint8_t header_bytes[TGA_HEADER_SIZE] = {};
  size_t got = readFully(source, header_bytes, TGA_HEADER_SIZE);
  TgaHeader& header = image.header;
  readTgaHeader(header_bytes, header);
  if (header.image_type != TGA_TYPE_TRUECOLOR &&
      header.image_type != TGA_TYPE_TRUECOLOR_RLE) {
    return LoadStatus::NOT_TGA;
  }
  if (header.pixel_depth != 32) return LoadStatus::NOT_32BIT;
  bool complete = got == TGA_HEADER_SIZE;

  if (!fitsMemory(header, image.pixels, buffers, available_memory) ||
      !allocatePixels(pixelByteCount(header), image.pixels)) {
    return LoadStatus::TOO_LARGE;
  }
  image.id_and_color_map.resize(idAndColorMapSize(header));
  size_t extra = image.id_and_color_map.size();
  complete = readFully(source, image.id_and_color_map.data(), extra) == extra &&
             complete;

  if (header.image_type == TGA_TYPE_TRUECOLOR_RLE) {
    complete =
        readRlePixels(source, image.pixels, buffers.read_chunk) && complete;
  } else {
    complete = readPlainPixels(source, image.pixels) && complete;
  }
  header.image_type = TGA_TYPE_TRUECOLOR;
  image.truncated = !complete;
  return LoadStatus::OK;
}

LoadStatus readTga(ByteSource& source, TgaImage& image) {
  CodecBuffers buffers;
  return readTga(source, image, buffers);
}

LoadStatus readTgaFromMemory(const uint8_t* data, size_t size,
                             TgaImage& image, CodecBuffers& buffers) {
  std::pair<const uint8_t*, size_t> span(data, size);
  ByteSource source{readMemory, &span};
  return readTga(source, image, buffers);
}

LoadStatus readTgaFromMemory(const uint8_t* data, size_t size,
                             TgaImage& image) {
  CodecBuffers buffers;
  return readTgaFromMemory(data, size, image, buffers);
}

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

std::vector<uint8_t> writeTgaToMemory(const TgaImage& image) {
  std::vector<uint8_t> out;
  // Packets are only written when smaller than the plain pixels, so this is
  // the most the file takes: one allocation instead of a growing series.
  out.reserve(TGA_HEADER_SIZE + image.id_and_color_map.size() +
              static_cast<size_t>(image.pixels.size));
  ByteSink sink{writeMemory, &out};
  ReusedBytes scratch;
  const size_t scratch_size = tgaWriteScratchSize(image.header);
  if (!writeTga(image, sink, reserveBytes(scratch, scratch_size),
                scratch_size)) {
    out.clear();
  }
  return out;
}

void makeOpaque(uint8_t* pixels, uint64_t size) {
  // A word with only the alpha byte set, whatever the host's byte order.
  const uint8_t alpha_bytes[4] = {0, 0, 0, 0xFF};
  uint32_t alpha;
  std::memcpy(&alpha, alpha_bytes, 4);
  for (uint64_t i = 0; i + 4 <= size; i += 4) {
    uint32_t pixel;
    std::memcpy(&pixel, pixels + i, 4);
    pixel |= alpha;
    std::memcpy(pixels + i, &pixel, 4);
  }
}
