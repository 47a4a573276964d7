// Whole images read from and written to streams of bytes, and the memory the
// codec keeps for them from one image to the next.

#ifndef BRISEL_IMAGECODEC_TGA_STREAM_H
#define BRISEL_IMAGECODEC_TGA_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagecodec/tga_image.h"

// Pulls up to `size` bytes into `dst`; returns how many it stored, 0 at the end.
struct ByteSource {
  size_t (*read)(void* context, uint8_t* dst, size_t size);
  void* context;
  // Goes back to the first byte; false when it cannot. Null for a source
  // read once (a pipe).
  bool (*rewind)(void* context) = nullptr;
};

// Pushes `size` bytes; returns false when they could not all be taken.
struct ByteSink {
  bool (*write)(void* context, const uint8_t* src, size_t size);
  void* context;
  // Throws away everything written, to write the file again from its first
  // byte; false when it cannot. Null for a sink that keeps what it was given
  // (a device or pipe).
  bool (*restart)(void* context) = nullptr;
};

// Bytes in memory as a source, which rewinds (tests, the fuzzer).
struct MemoryBytes {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
};
ByteSource memorySource(MemoryBytes& bytes);
// A vector as a sink, which restarts by emptying it.
ByteSink vectorSink(std::vector<uint8_t>& out);

// What the system around the codec says about memory; either may be null.
struct MemoryHooks {
  // How many more bytes the process can get (availableMemory).
  uint64_t (*available)();
  // Told of each newly allocated pixel block (a hint for large pages).
  void (*new_pixel_block)(uint8_t* data, size_t size);
  // What `bytes` of new memory cost against `available` once touched
  // (chargedMemory); the bytes alone when null.
  uint64_t (*charged)(uint64_t bytes);
};

// --- memory (pixel_memory.cc) ---
// Makes `buffer` at least `size` bytes long and returns it; throws
// std::bad_alloc as new does. A block already large enough is kept as it is,
// contents and all; a smaller one is released before the larger one is
// allocated, so that the two are never held at once.
uint8_t* reserveBytes(ReusedBytes& buffer, size_t size);
// Makes `pixels` hold `size` bytes, in the block it has when that is large
// enough; false when the block cannot be allocated.
bool allocatePixels(uint64_t size, PixelBuffer& pixels,
                    void (*new_block)(uint8_t* data, size_t size));

// --- reading (tga_read.cc) ---
// Reads until `size` bytes are stored or the source ends; returns how many.
size_t readSource(ByteSource& source, uint8_t* dst, size_t size);
// Reads the header and, for a 32-bit type 2 or 10 image, the ID field and
// colour map after it into `image` (its header keeps the file's image_type),
// leaving `source` at the first byte of the pixel data. `image.truncated`
// tells whether the source ended first. The pixels are left alone.
LoadStatus readTgaPrefix(ByteSource& source, TgaImage& image);
// The rest of readTga, after readTgaPrefix: the pixels.
LoadStatus readTgaPixels(ByteSource& source, TgaImage& image,
                         CodecBuffers& buffers, const MemoryHooks* memory);
// Reads header, ID field, colour map and pixels from `source`. On OK the
// image's header has image_type 2 and its pixels hold width * height * 4 bytes.
// The pixel block `image` already holds is used again when it is large
// enough; otherwise it is released before a new one is allocated.
// TOO_LARGE when the pixels and the buffers for reading and writing them
// would need more bytes beyond what the record and buffers already hold than
// `memory` says the process can get (null for no limit), or cannot be
// allocated.
LoadStatus readTga(ByteSource& source, TgaImage& image, CodecBuffers& buffers,
                   const MemoryHooks* memory = nullptr);
LoadStatus readTga(ByteSource& source, TgaImage& image);
LoadStatus readTgaFromMemory(const uint8_t* data, size_t size, TgaImage& image);
LoadStatus readTgaFromMemory(const uint8_t* data, size_t size, TgaImage& image,
                             CodecBuffers& buffers);

// --- writing (tga_write.cc) ---
// Writes the image, run-length encoded when that is strictly smaller.
// `scratch` bounds the memory used for packets; it must hold at least
// width * 5 bytes. tgaWriteScratchSize is what pays: the whole worst-case
// stream of a small image, IO_CHUNK_BYTES (or one row, if larger) for a big
// one. Returns false when the sink fails.
size_t tgaWriteScratchSize(const TgaHeader& header);
bool writeTga(const TgaImage& image, ByteSink& sink, uint8_t* scratch,
              size_t scratch_size);
std::vector<uint8_t> writeTgaToMemory(const TgaImage& image);

#endif  // BRISEL_IMAGECODEC_TGA_STREAM_H
