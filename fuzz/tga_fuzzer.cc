// Fuzz target for the in-memory codec.
//
// Every input goes the tool's own way, on bytes instead of files: load, make
// opaque, write. Along the way the results are checked against what the bytes
// say on their own:
//   - the load status follows from the type and depth bytes alone;
//   - the ID field, colour map and pixels are the input's bytes (decoded for
//     type 10), zero where the input ran out, and "truncated" is set exactly
//     when it ran out;
//   - the packet decoder gives the same result fed in small chunks as whole,
//     and its whole-buffer form zeroes what the stream leaves out;
//   - making opaque touches only the alpha bytes;
//   - the written file loads again complete, with the same header apart from
//     image_type, the same ID/colour-map bytes and the same pixels; its type
//     is 10 exactly when the packets are smaller, and its packets keep to the
//     encoder's limits (no packet crosses a row, raw at most 121 pixels, runs
//     at least 2);
//   - writing through the smallest scratch buffer gives the same bytes, and a
//     sink that fails part way makes the write fail;
//   - streaming the file a block of rows at a time gives the same bytes
//     and the same "truncated", with blocks, guesses, the point of switching
//     and the kind of sink drawn from the input;
//   - every kernel set the processor offers (SSE2 or NEON, plain) decodes,
//     encodes and sizes as the plain reference coder does, the encoders each
//     writing into exactly the width * 5 bytes they may use.
// A failed check prints its line and aborts, which libFuzzer reports as a
// crash together with the input.
//
// Images are read into records kept from one input to the next, as the tool
// keeps them from one file to the next: each input reuses the blocks of the
// ones before, and the codec marks what lies past the image unaddressable, so
// AddressSanitizer still catches a store past its end.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "imagecodec/rle_kernels.h"
#include "imagecodec/row_stream.h"
#include "imagecodec/tga_image.h"
#include "imagecodec/tga_one_pass.h"
#include "imagecodec/tga_stream.h"
#include "tests/rle_reference.h"

namespace {

// Larger images are skipped so that each run stays in the milliseconds; size
// effects (buffer flushing) are reached through small scratch buffers instead.
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

bool sameHeaderApartFromType(const TgaHeader& a, const TgaHeader& b) {
  uint8_t x[TGA_HEADER_SIZE], y[TGA_HEADER_SIZE];
  writeTgaHeader(a, x);
  writeTgaHeader(b, y);
  x[2] = y[2] = 0;
  return std::memcmp(x, y, TGA_HEADER_SIZE) == 0;
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
void checkEncoderPaths(const TgaImage& image) {
  const uint32_t width = image.header.width;
  const size_t row_bytes = size_t{width} * 4;
  // Left uninitialised: clearing 320 KiB buffers took a tenth of every run,
  // and the encoders never read what they have not written.
  const size_t room = size_t{width} * 5;
  std::unique_ptr<uint8_t[]> reference(new uint8_t[room]),
      other(new uint8_t[room]);
  size_t count;
  const RleKernels* const* sets = rleKernelSets(&count);
  for (uint32_t y = 0; y < image.header.height; ++y) {
    const uint8_t* row = image.pixels.data() + y * row_bytes;
    size_t n = encodeRleRowReference(row, width, reference.get());
    for (size_t i = 0; i < count; ++i) {
      CHECK(sets[i]->encode_row(row, width, other.get()) == n);
      CHECK(sets[i]->row_size(row, width) == n);
      CHECK(std::memcmp(other.get(), reference.get(), n) == 0);
    }
  }
}

struct LimitedSink {
  Bytes bytes;
  size_t limit;
};

// Empties a sink kept from one input to the next, keeping its memory: a
// colour map takes up to 2 MiB, and under AddressSanitizer every fresh block
// that large is mapped, faulted in and unmapped again.
LimitedSink& emptied(LimitedSink& sink, size_t limit) {
  sink.bytes.clear();
  sink.limit = limit;
  return sink;
}

bool writeLimited(void* context, const uint8_t* src, size_t size) {
  auto* sink = static_cast<LimitedSink*>(context);
  if (size > sink->limit - sink->bytes.size()) return false;
  sink->bytes.insert(sink->bytes.end(), src, src + size);
  return true;
}

void checkWritten(const TgaImage& image, const Bytes& out, uint32_t seed) {
  const TgaHeader& header = image.header;
  const uint64_t n = image.pixels.size;
  const size_t extra = image.id_and_color_map.size();
  const size_t data_at = TGA_HEADER_SIZE + extra;
  CHECK(out.size() >= data_at);

  TgaHeader written;
  readTgaHeader(out.data(), written);
  CHECK(sameHeaderApartFromType(written, header));
  CHECK(std::equal(image.id_and_color_map.begin(),
                   image.id_and_color_map.end(),
                   out.begin() + TGA_HEADER_SIZE));
  const bool rle_smaller =
      rleStreamSize(image.pixels.data(), header.width, header.height) < n;
  if (rle_smaller) {
    CHECK(written.image_type == TGA_TYPE_TRUECOLOR_RLE);
    CHECK(out.size() - data_at < n);
    checkPackets(out.data() + data_at, out.size() - data_at, header);
    Bytes stream;
    CHECK(encodeRle(image.pixels.data(), header.width, header.height, stream));
    CHECK(std::equal(stream.begin(), stream.end(), out.begin() + data_at,
                     out.end()));
  } else {
    CHECK(written.image_type == TGA_TYPE_TRUECOLOR);
    CHECK(out.size() - data_at == n);
  }

  static TgaImage again;
  static CodecBuffers buffers;
  CHECK(readTgaFromMemory(out.data(), out.size(), again, buffers) ==
        LoadStatus::OK);
  CHECK(!again.truncated);
  CHECK(sameHeaderApartFromType(again.header, header));
  CHECK(again.header.image_type == TGA_TYPE_TRUECOLOR);
  CHECK(again.id_and_color_map == image.id_and_color_map);
  CHECK(again.pixels.size == n);
  CHECK(n == 0 ||
        std::memcmp(again.pixels.data(), image.pixels.data(), n) == 0);

  // The smallest scratch buffer writeTga accepts flushes after every row.
  const size_t scratch_size = std::max<size_t>(size_t{header.width} * 5, 1);
  std::unique_ptr<uint8_t[]> scratch_block(new uint8_t[scratch_size]);
  uint8_t* const scratch = scratch_block.get();
  static LimitedSink whole, once, cut;
  ByteSink sink{writeLimited, &emptied(whole, SIZE_MAX)};
  CHECK(writeTga(image, sink, scratch, scratch_size));
  CHECK(whole.bytes == out);
  CHECK(!writeTga(image, sink, scratch, scratch_size - 1) ||
        scratch_size == 1);

  // The one-pass writer, guessing from a random number of first rows, gives
  // the same bytes or asks to start again, which only an image written plain
  // may need.
  sink.context = &emptied(once, SIZE_MAX);
  WriteResult result =
      writeTgaInOnePass(image, sink, scratch, scratch_size,
                        nextRandom(seed) % (n + 1));
  CHECK(result != WriteResult::FAILED);
  if (result == WriteResult::OK) CHECK(once.bytes == out);
  if (result == WriteResult::START_OVER) {
    CHECK(out[2] == TGA_TYPE_TRUECOLOR);
  }

  sink.context = &emptied(cut, nextRandom(seed) % out.size());
  CHECK(!writeTga(image, sink, scratch, scratch_size));
}

// The streaming path against the whole-image one (`out`, from `image`).
void checkStreamed(const uint8_t* data, size_t size, const TgaImage& image,
                   const Bytes& out, uint32_t seed) {
  const size_t row_bytes = size_t{image.header.width} * 4;
  RowStreamTuning tuning;
  if (nextRandom(seed) % 4 != 0) {
    tuning.block_bytes = 1 + nextRandom(seed) % (3 * row_bytes + 1);
    tuning.switch_bytes = nextRandom(seed) % (image.pixels.size + 1);
  }
  const RowFormat guesses[] = {RowFormat::GUESS, RowFormat::PLAIN,
                               RowFormat::RLE};
  tuning.first_guess = guesses[nextRandom(seed) % 3];
  const bool in_place = nextRandom(seed) % 2 == 0;
  static Bytes streamed;
  bool truncated = false;
  CHECK(writeOpaqueRowsInMemory(data, size, streamed, truncated, tuning,
                                in_place) == LoadStatus::OK);
  CHECK(streamed == out);
  CHECK(truncated == image.truncated);
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

  static TgaImage image;
  static CodecBuffers buffers;
  LoadStatus status = readTgaFromMemory(data, size, image, buffers);
  if (!is_tga) {
    CHECK(status == LoadStatus::NOT_TGA);
    return 0;
  }
  if (header.pixel_depth != 32) {
    CHECK(status == LoadStatus::NOT_32BIT);
    return 0;
  }
  CHECK(status == LoadStatus::OK);
  CHECK(image.header.image_type == TGA_TYPE_TRUECOLOR);
  CHECK(sameHeaderApartFromType(image.header, header));
  CHECK(image.pixels.size == n);

  const size_t extra = idAndColorMapSize(header);
  static Bytes expected_extra;
  slice(data, size, TGA_HEADER_SIZE, extra, expected_extra);
  CHECK(image.id_and_color_map == expected_extra);
  const size_t data_at = TGA_HEADER_SIZE + extra;
  const uint8_t* rest = data + std::min(size, data_at);
  const size_t rest_size = size - std::min(size, data_at);
  uint32_t seed = static_cast<uint32_t>(size) * 2654435761u;
  if (size > 0) seed ^= data[size - 1];

  Bytes expected;
  bool complete = size >= data_at;
  if (header.image_type == TGA_TYPE_TRUECOLOR_RLE) {
    complete = decodeBothWays(rest, rest_size, n, seed, expected) && complete;
    checkDecoderPaths(rest, rest_size, n, expected);
  } else {
    expected = slice(rest, rest_size, 0, n);
    complete = complete && rest_size >= n;
  }
  CHECK(image.truncated == !complete);
  CHECK(n == 0 || std::memcmp(image.pixels.data(), expected.data(), n) == 0);

  makeOpaque(image.pixels.data(), n);
  for (uint64_t i = 0; i < n; ++i) {
    CHECK(image.pixels.data()[i] == (i % 4 == 3 ? 0xFF : expected[i]));
  }

  checkEncoderPaths(image);
  Bytes out = writeTgaToMemory(image);
  checkStreamed(data, size, image, out, seed);
  checkWritten(image, out, seed);
  return 0;
}
