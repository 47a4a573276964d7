#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"
#include "tests/test_images.h"

namespace {

const Bytes P = pix(0x04030201), Q = pix(0x08070605);

struct Decoded {
  Bytes pixels;
  uint64_t produced;
  size_t consumed;
};

// Feeds `stream` to decodeRleChunk in pieces of `chunk` bytes, each piece in
// a buffer of exactly its size, stopping when the image is full; chunk 0
// means one decodeRle call, which zeroes what the stream does not supply.
// `alpha` is ORed into the alpha bytes decoded.
Decoded decode(const Bytes& stream, size_t pixel_count, size_t chunk, uint8_t alpha = 0) {
  Decoded r{Bytes(pixel_count * 4, 0xCD), 0, 0};
  if (chunk == 0) {
    r.produced = decodeRle(stream.data(), stream.size(), r.pixels.data(), r.pixels.size());
    return r;
  }
  RleDecoder decoder;
  decoder.alpha = alpha;
  for (size_t at = 0; at < stream.size();) {
    Bytes piece(stream.begin() + at, stream.begin() + at + std::min(chunk, stream.size() - at));
    size_t used = decodeRleChunk(decoder, piece.data(), piece.size(), r.pixels.data(),
                                 r.pixels.size());
    EXPECT_LE(used, piece.size());
    r.consumed += used;
    at += piece.size();
    if (used < piece.size()) break;
  }
  r.produced = decoder.out_pos;
  return r;
}

struct DecodeCase {
  const char* what;
  size_t pixel_count;
  Bytes stream;
  Bytes produced;   // the pixel bytes the stream supplies; the rest must be zero
  size_t consumed;  // stream bytes used
};

// Every kernel set, for the wide stores each set makes its own way.
TEST(RleDecode, PacketsCutsAndShortStreamsInEveryChunkSize) {
  const Bytes d128 = distinctPixels(128);
  const Bytes d121(d128.begin(), d128.begin() + 121 * 4);
  const Bytes cut(d128.begin(), d128.begin() + 27);
  const DecodeCase cases[] = {
      {"run then raw, 3x1", 3, cat({{0x81}, P, {0x00}, Q}), cat({P, P, Q}), 10},
      {"128-run then 128-raw, 16x16", 256, cat({{0xFF}, P, {0x7F}, d128}),
       cat({rep(P, 128), d128}), 518},
      {"run crossing a row end, 2x2", 4, cat({{0x83}, P}), rep(P, 4), 5},
      {"zero-size image", 0, cat({{0x81}, P}), {}, 0},
      {"run cut at the image end", 2, cat({{0x83}, P, {0x00}, Q}), rep(P, 2), 5},
      {"raw cut at the image end", 1, cat({{0x01}, P, Q}), P, 5},
      {"bytes after the last packet", 1, cat({{0x00}, P, {0x00}, Q}), P, 5},
      {"stream ends in a raw packet", 3, cat({{0x02}, P, Q}), cat({P, Q}), 9},
      {"stream ends inside a raw pixel", 3, cat({{0x02}, P, {5, 6}}),
       cat({P, {5, 6}}), 7},
      {"stream ends inside a run pixel", 3, cat({{0x00}, P, {0x82, 5, 6, 7}}), P, 9},
      {"stream ends after a header", 3, cat({{0x81}, P, {0x00}}), rep(P, 2), 6},
      {"empty stream", 2, {}, {}, 0},
      // Wide stores for the first packet must not leave bytes past the cut.
      {"stream ends 28 bytes after a long raw packet", 200,
       cat({rawPacket(d121), {0x7F}, cut}), cat({d121, cut}), 513},
  };
  forEachKernelSet([&](const RleKernels&) {
    for (const DecodeCase& c : cases) {
      SCOPED_TRACE(c.what);
      Bytes expect = c.produced;
      expect.resize(c.pixel_count * 4, 0);
      Decoded whole = decode(c.stream, c.pixel_count, 0);
      EXPECT_EQ(whole.produced, c.produced.size());
      EXPECT_EQ(whole.pixels, expect);
      for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{7},
                           c.stream.size() + 1}) {
        SCOPED_TRACE(chunk);
        Decoded part = decode(c.stream, c.pixel_count, chunk);
        EXPECT_EQ(part.consumed, c.consumed);
        EXPECT_EQ(part.produced, c.produced.size());
        EXPECT_TRUE(std::equal(c.produced.begin(), c.produced.end(), part.pixels.begin()));
        EXPECT_TRUE(std::all_of(part.pixels.begin() + c.produced.size(), part.pixels.end(),
                                [](uint8_t b) { return b == 0xCD; }))
            << "bytes past the decoded ones changed";
      }
    }
  });
}

// Random packet streams, too short, too long or cut anywhere, decode the same
// whatever the chunk size and kernel set, and the same as the byte-at-a-time
// reference.
// Packets are short (up to 9 pixels) or any size, so that the fixed-size
// stores meet every packet size and the end of the image.
TEST(RleDecode, RandomStreamsDecodeAlikeInEveryChunkSize) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    size_t pixel_count = rng() % 1000;
    Bytes stream;
    for (size_t described = 0; described < pixel_count + 50 && stream.size() < 5000;) {
      size_t n = 1 + rng() % (rng() % 2 ? 9 : 128);
      stream = cat({stream, (rng() % 2) ? runPacket(n, pix(0x01010101u * (1 + rng() % 4)))
                                        : rawPacket(distinctPixels(n, rng()))});
      described += n;
    }
    stream.resize(rng() % (stream.size() + 1));
    forEachKernelSet([&](const RleKernels&) {
      SCOPED_TRACE(::testing::Message() << "trial " << trial);
      Decoded whole = decode(stream, pixel_count, stream.size() + 1);
      Decoded zeroed = decode(stream, pixel_count, 0);
      EXPECT_EQ(zeroed.produced, whole.produced);
      Bytes reference(pixel_count * 4, 0xCD);
      EXPECT_EQ(decodeRleReference(stream.data(), stream.size(), reference.data(),
                                   reference.size()),
                whole.produced);
      EXPECT_EQ(reference, zeroed.pixels);
      EXPECT_TRUE(std::all_of(zeroed.pixels.begin() + whole.produced,
                              zeroed.pixels.end(), [](uint8_t b) { return b == 0; }));
      for (size_t chunk : {1, 2, 3, 5, 7}) {
        Decoded part = decode(stream, pixel_count, chunk);
        ASSERT_EQ(part.consumed, whole.consumed) << "chunk " << chunk;
        ASSERT_EQ(part.produced, whole.produced) << "chunk " << chunk;
        ASSERT_EQ(part.pixels, whole.pixels) << "chunk " << chunk;
        // Made opaque while decoding: exactly the alpha bytes produced change.
        Bytes opaque = whole.pixels;
        for (size_t i = 3; i < whole.produced; i += 4) opaque[i] = 0xFF;
        ASSERT_EQ(decode(stream, pixel_count, chunk, 0xFF).pixels, opaque) << "chunk " << chunk;
      }
      EXPECT_TRUE(std::equal(zeroed.pixels.begin(), zeroed.pixels.begin() + whole.produced,
                             whole.pixels.begin()));
    });
  }
}

}  // namespace
