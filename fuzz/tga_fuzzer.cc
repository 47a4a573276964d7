// Fuzz target for the codec on bytes in memory.
//
// Every input goes the tool's own way, on bytes instead of files: loadImage
// reads what comes before the pixels, and saveImage streams them, opaque, to
// a sink, with the block size, the first guess and the point of switching
// drawn from the input. The output and its "truncated" must be the bytes the
// reference coder (tests/rle_reference.h) makes of the input from the
// format's rules alone. Besides:
//   - a refused input is refused for its type byte first, then its depth;
//   - the packet decoder gives the same result fed in small chunks as whole,
//     and its whole-buffer form zeroes what the stream leaves out;
//   - the packets written keep to the encoder's limits (no packet crosses a
//     row, raw at most 121 pixels, runs at least 2), and encodeRle gives
//     them too;
//   - a sink that fails part way fails the image;
//   - every kernel set the processor offers decodes, encodes and sizes as
//     the reference coder does, the encoders each writing into exactly the
//     width * 5 bytes they may use.
// A failed check prints its line and aborts, which libFuzzer reports as a
// crash together with the input.
//
// The buffers are kept from one input to the next, as the tool keeps them
// from one file to the next, and the codec marks what lies past the part in
// use unaddressable, so AddressSanitizer still catches a store past it.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"

namespace {

// Larger images are skipped so that each run stays in the milliseconds; size
// effects (buffer flushing) are reached through small blocks instead.
constexpr uint64_t MAX_PIXELS = uint64_t{1} << 16;

[[noreturn]] void fail(const char* what, int line) {
  std::fprintf(stderr, "tga_fuzzer.cc:%d: check failed: %s\n", line, what);
  std::abort();
}

#define CHECK(condition)                                 \
  do {                                                   \
    if (!(condition)) fail(#condition, __LINE__);        \
  } while (0)

using Bytes = std::vector<uint8_t>;

// `count` bytes of `data` from `offset` on, zero where `data` ends.
void slice(const uint8_t* data, size_t size, size_t offset, size_t count,
           Bytes& out) {
  out.assign(count, 0);
  if (offset < size && count > 0) {
    std::memcpy(out.data(), data + offset, std::min(count, size - offset));
  }
}

Bytes slice(const uint8_t* data, size_t size, size_t offset, size_t count) {
  Bytes out;
  slice(data, size, offset, count, out);
  return out;
}

uint32_t nextRandom(uint32_t& state) {
  state = state * 1103515245u + 12345u;
  return state >> 16;
}

// Decodes the stream whole and in chunks of 1 to 16 bytes; both must use the
// same stream bytes and give the same pixels. Returns the whole decode's
// pixels (zero past what the stream supplied) and whether it filled the image.
bool decodeBothWays(const uint8_t* stream, size_t size, uint64_t pixel_bytes,
                    uint32_t seed, Bytes& pixels) {
  pixels.assign(pixel_bytes, 0);
  RleDecoder whole;
  size_t whole_used =
      decodeRleChunk(whole, stream, size, pixels.data(), pixel_bytes);
  CHECK(whole_used <= size);
  CHECK(whole.out_pos <= pixel_bytes);
  CHECK(whole_used == size || whole.out_pos == pixel_bytes);
  // The whole-buffer form zeroes what the stream does not supply.
  Bytes zeroed(pixel_bytes, 0xAA);
  CHECK(decodeRle(stream, size, zeroed.data(), pixel_bytes) == whole.out_pos);
  CHECK(zeroed == pixels);

  Bytes chunked(pixel_bytes, 0);
  RleDecoder d;
  size_t used = 0;
  while (used < size && d.out_pos < pixel_bytes) {
    size_t piece = std::min<size_t>(1 + nextRandom(seed) % 16, size - used);
    size_t took = decodeRleChunk(d, stream + used, piece, chunked.data(),
                                 pixel_bytes);
    CHECK(took <= piece);
    CHECK(took == piece || d.out_pos == pixel_bytes);
    used += took;
  }
  // An empty chunk changes nothing.
  RleDecoder before = d;
  CHECK(decodeRleChunk(d, stream, 0, chunked.data(), pixel_bytes) == 0);
  CHECK(d.out_pos == before.out_pos);

  CHECK(used == whole_used);
  CHECK(d.out_pos == whole.out_pos);
  CHECK(chunked == pixels);
  return whole.out_pos == pixel_bytes;
}

// The packets written: none crosses a row end, raw packets hold 1 to 121
// pixels, run packets 2 to 128, and they cover the image exactly.
void checkPackets(const uint8_t* stream, size_t size, const TgaHeader& header) {
  size_t at = 0;
  uint32_t x = 0;
  uint64_t rows = 0;
  while (at < size) {
    uint8_t h = stream[at++];
    bool is_raw = h < RLE_FLAG;
    uint32_t count = is_raw ? h + 1u : h - 127u;
    CHECK(is_raw ? count <= RLE_MAX_RAW_PIXELS : count >= 2);
    CHECK(x + count <= header.width);
    x += count;
    if (x == header.width) {
      x = 0;
      ++rows;
    }
    at += is_raw ? size_t{count} * 4 : 4;
  }
  CHECK(at == size);
  CHECK(x == 0 && rows == header.height);
}

// The decoder of every kernel set against the reference, on the input's own
// packet stream. `decoded` came from the fastest set.
void checkDecoderPaths(const uint8_t* stream, size_t size,
                       uint64_t pixel_bytes, const Bytes& decoded) {
  Bytes reference(pixel_bytes, 0xAA);
  decodeRleReference(stream, size, reference.data(), pixel_bytes);
  CHECK(reference == decoded);
  size_t count;
  const RleKernels* const* sets = rleKernelSets(&count);
  for (size_t i = 1; i < count; ++i) {
    useRleKernels(*sets[i]);
    Bytes other(pixel_bytes, 0x55);
    decodeRle(stream, size, other.data(), pixel_bytes);
    CHECK(other == reference);
  }
  useRleKernels(*sets[0]);
}

// Every kernel set's encoder and sizer against the reference, row by row.
// Each writes into a buffer of exactly width * 5 bytes, so the sanitizers
// catch a store past it.
void checkEncoderPaths(const Bytes& pixels, const TgaHeader& header) {
  const uint32_t width = header.width;
  const size_t row_bytes = size_t{width} * 4;
  // Left uninitialised: the encoders never read what they have not
  // written, and clearing a buffer this large for every input is dear.
  const size_t room = size_t{width} * 5;
  std::unique_ptr<uint8_t[]> reference(new uint8_t[room]),
      other(new uint8_t[room]);
  size_t count;
  const RleKernels* const* sets = rleKernelSets(&count);
  for (uint32_t y = 0; y < header.height; ++y) {
    const uint8_t* row = pixels.data() + y * row_bytes;
    size_t n = encodeRleRowReference(row, width, reference.get());
    for (size_t i = 0; i < count; ++i) {
      CHECK(sets[i]->encode_row(row, width, other.get()) == n);
      CHECK(sets[i]->row_size(row, width) == n);
      CHECK(std::memcmp(other.get(), reference.get(), n) == 0);
    }
  }
}

struct LimitedSink {
  MemorySink memory;
  size_t limit;
};

bool writeLimited(void* context, const uint8_t* src, size_t size) {
  auto* sink = static_cast<LimitedSink*>(context);
  if (size > sink->limit - sink->memory.bytes.size()) return false;
  sink->memory.bytes.insert(sink->memory.bytes.end(), src, src + size);
  return true;
}

bool restartLimited(void* context, ByteSource& written) {
  auto* sink = static_cast<LimitedSink*>(context);
  ByteSink inner = memorySink(sink->memory);
  return inner.restart(inner.context, written);
}

SaveTuning tuningFrom(uint32_t& seed, const TgaHeader& header) {
  const size_t row_bytes = size_t{header.width} * 4;
  SaveTuning tuning;
  if (nextRandom(seed) % 4 != 0) {
    tuning.block_bytes = 1 + nextRandom(seed) % (3 * row_bytes + 1);
    tuning.switch_bytes = nextRandom(seed) % (pixelByteCount(header) + 1);
  }
  const RowFormat guesses[] = {RowFormat::GUESS, RowFormat::PLAIN,
                               RowFormat::RLE};
  tuning.first_guess = guesses[nextRandom(seed) % 3];
  return tuning;
}

// The output (`out`, already held to the reference) keeps the packet
// limits, and a sink that takes fewer bytes fails the image.
void checkWritten(const uint8_t* data, size_t size, const TgaHeader& header,
                  const Bytes& pixels, const Bytes& out, uint32_t seed) {
  const size_t data_at = TGA_HEADER_SIZE + idAndColorMapSize(header);
  CHECK(out.size() >= data_at);
  if (out[2] == TGA_TYPE_TRUECOLOR_RLE) {
    checkPackets(out.data() + data_at, out.size() - data_at, header);
    Bytes stream;
    CHECK(encodeRle(pixels.data(), header.width, header.height, stream));
    CHECK(std::equal(stream.begin(), stream.end(), out.begin() + data_at,
                     out.end()));
  }
  static LimitedSink cut;
  cut.memory.bytes.clear();
  cut.limit = nextRandom(seed) % out.size();
  MemoryBytes bytes{data, size};
  ByteSource source = memorySource(bytes);
  TgaImage image;
  CHECK(loadImage(source, image) == TgaStatus::OK);
  ByteSink sink{writeLimited, restartLimited, &cut};
  static SaveBuffers buffers;
  CHECK(saveImage(source, image, sink, buffers, tuningFrom(seed, header)) ==
        TgaStatus::WRITE_FAILED);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TgaHeader header;
  Bytes header_bytes = slice(data, size, 0, TGA_HEADER_SIZE);
  readTgaHeader(header_bytes.data(), header);
  const bool is_tga = header.image_type == TGA_TYPE_TRUECOLOR ||
                      header.image_type == TGA_TYPE_TRUECOLOR_RLE;
  const uint64_t n = pixelByteCount(header);
  if (is_tga && header.pixel_depth == 32 && n / 4 > MAX_PIXELS) return 0;

  uint32_t seed = static_cast<uint32_t>(size) * 2654435761u;
  if (size > 0) seed ^= data[size - 1];
  static Bytes out, expected;
  bool truncated = false, expected_truncated = false;
  const TgaStatus status =
      saveImageInMemory(data, size, out, truncated, tuningFrom(seed, header));
  const bool accepted =
      opaqueFileReference(data, size, expected, expected_truncated);
  if (!is_tga) {
    CHECK(status == TgaStatus::NOT_TGA && !accepted);
    return 0;
  }
  if (header.pixel_depth != 32) {
    CHECK(status == TgaStatus::NOT_32BIT && !accepted);
    return 0;
  }
  CHECK(status == TgaStatus::OK && accepted);
  CHECK(out == expected);
  CHECK(truncated == expected_truncated);

  // The pixels on their own, through the decoder's other entry points.
  const size_t data_at = TGA_HEADER_SIZE + idAndColorMapSize(header);
  const uint8_t* rest = data + std::min(size, data_at);
  const size_t rest_size = size - std::min(size, data_at);
  Bytes pixels;
  if (header.image_type == TGA_TYPE_TRUECOLOR_RLE) {
    decodeBothWays(rest, rest_size, n, seed, pixels);
    checkDecoderPaths(rest, rest_size, n, pixels);
  } else {
    pixels = slice(rest, rest_size, 0, n);
  }
  makeOpaque(pixels.data(), n);
  checkEncoderPaths(pixels, header);
  if (!out.empty()) checkWritten(data, size, header, pixels, out, seed);
  return 0;
}
