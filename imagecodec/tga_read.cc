// Whole images read from bytes: the header, the ID field and colour map,
// and the pixel data, from a ByteSource.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_stream.h"

namespace {

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
  size_t got = readSource(source, pixels.data(), size);
  if (got == size) return true;
  std::memset(pixels.data() + got, 0, size - got);
  return false;
}

// The chunk a packet stream for `pixel_bytes` is read in. The longest stream
// that can fill the image is one single-pixel raw packet, 5 bytes, per 4
// pixel bytes; a larger chunk would never be filled by a file that ends with
// its pixels.
size_t rleChunkSize(uint64_t pixel_bytes) {
  return static_cast<size_t>(
      std::min<uint64_t>(IO_CHUNK_BYTES, pixel_bytes + pixel_bytes / 4));
}

// Decodes the packet stream as it arrives, reading no further than the chunk
// that completes the image. Returns false when the stream ran short.
bool readRlePixels(ByteSource& source, PixelBuffer& pixels,
                   ReusedBytes& chunk_buffer) {
  if (pixels.size == 0) return true;
  const size_t chunk_size = rleChunkSize(pixels.size);
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
  auto& bytes = *static_cast<MemoryBytes*>(context);
  const size_t n = std::min(size, bytes.size - bytes.pos);
  if (n > 0) std::memcpy(dst, bytes.data + bytes.pos, n);
  bytes.pos += n;
  return n;
}

bool rewindMemory(void* context) {
  static_cast<MemoryBytes*>(context)->pos = 0;
  return true;
}

// Whether the pixels, with the buffers that reading and writing them take,
// fit in the memory the process can still get. What the record and buffers
// already hold is in use now and is reused or released before anything
// larger comes, so it counts as room; counting it twice would refuse images
// that fit. Only an image that needs more than that asks `memory`,
// which reads system files: a batch of images no larger than the largest
// before it asks nothing. The new memory is counted with what the system
// charges besides (its page tables), the held memory by its bytes alone.
bool fitsMemory(const TgaHeader& header, const PixelBuffer& pixels,
                const CodecBuffers& buffers, const MemoryHooks* memory) {
  const uint64_t pixel_bytes = pixelByteCount(header);
  // Plain pixels are read straight into their block, without a chunk.
  const uint64_t chunk = header.image_type == TGA_TYPE_TRUECOLOR_RLE
                             ? rleChunkSize(pixel_bytes)
                             : 0;
  const uint64_t need = pixel_bytes + chunk + tgaWriteScratchSize(header);
  const uint64_t held = pixels.capacity + buffers.read_chunk.capacity +
                        buffers.write_scratch.capacity;
  if (need <= held || !memory || !memory->available) return true;
  const uint64_t charged = memory->charged ? memory->charged(need) : need;
  return charged - held <= memory->available();
}

}  // namespace

ByteSource memorySource(MemoryBytes& bytes) {
  return {readMemory, &bytes, rewindMemory};
}

size_t readSource(ByteSource& source, uint8_t* dst, size_t size) {
  size_t got = 0;
  while (got < size) {
    size_t n = source.read(source.context, dst + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

LoadStatus readTgaPrefix(ByteSource& source, TgaImage& image) {
  clearImage(image);
  uint8_t header_bytes[TGA_HEADER_SIZE] = {};
  size_t got = readSource(source, header_bytes, TGA_HEADER_SIZE);
  TgaHeader& header = image.header;
  readTgaHeader(header_bytes, header);
  if (header.image_type != TGA_TYPE_TRUECOLOR &&
      header.image_type != TGA_TYPE_TRUECOLOR_RLE) {
    return LoadStatus::NOT_TGA;
  }
  if (header.pixel_depth != 32) return LoadStatus::NOT_32BIT;
  image.id_and_color_map.resize(idAndColorMapSize(header));
  const size_t extra = image.id_and_color_map.size();
  image.truncated =
      got < TGA_HEADER_SIZE ||
      readSource(source, image.id_and_color_map.data(), extra) < extra;
  return LoadStatus::OK;
}

LoadStatus readTgaPixels(ByteSource& source, TgaImage& image,
                         CodecBuffers& buffers, const MemoryHooks* memory) {
  TgaHeader& header = image.header;
  if (!fitsMemory(header, image.pixels, buffers, memory) ||
      !allocatePixels(pixelByteCount(header), image.pixels,
                      memory ? memory->new_pixel_block : nullptr)) {
    return LoadStatus::TOO_LARGE;
  }
  bool complete;
  if (header.image_type == TGA_TYPE_TRUECOLOR_RLE) {
    complete = readRlePixels(source, image.pixels, buffers.read_chunk);
  } else {
    complete = readPlainPixels(source, image.pixels);
  }
  header.image_type = TGA_TYPE_TRUECOLOR;
  image.truncated = image.truncated || !complete;
  return LoadStatus::OK;
}

LoadStatus readTga(ByteSource& source, TgaImage& image,
                   CodecBuffers& buffers, const MemoryHooks* memory) {
  const LoadStatus status = readTgaPrefix(source, image);
  if (status != LoadStatus::OK) return status;
  return readTgaPixels(source, image, buffers, memory);
}

LoadStatus readTga(ByteSource& source, TgaImage& image) {
  CodecBuffers buffers;
  return readTga(source, image, buffers);
}

LoadStatus readTgaFromMemory(const uint8_t* data, size_t size,
                             TgaImage& image, CodecBuffers& buffers) {
  MemoryBytes bytes{data, size};
  ByteSource source = memorySource(bytes);
  return readTga(source, image, buffers);
}

LoadStatus readTgaFromMemory(const uint8_t* data, size_t size,
                             TgaImage& image) {
  CodecBuffers buffers;
  return readTgaFromMemory(data, size, image, buffers);
}
