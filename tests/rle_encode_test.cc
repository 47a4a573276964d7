#include <gtest/gtest.h>

#include <random>

#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"
#include "tests/test_images.h"

namespace {

const Bytes P = pix(0x04030201), Q = pix(0x08070605), S = pix(0x0C0B0A09),
            T = pix(0x100F0E0D), U = pix(0x14131211), V = pix(0x18171615),
            X = pix(0x1C1B1A19);

// encodeRleRow on every row, each into a buffer of exactly width * 5 bytes;
// also checks that rleRowSize, every kernel set this processor offers and the
// reference agree, so the sets not chosen here are tested too.
Bytes encodeRows(const Bytes& pixels, uint32_t width, uint32_t height) {
  Bytes all;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = pixels.data() + size_t{y} * width * 4;
    Bytes out(size_t{width} * 5), reference(out.size());
    size_t n = encodeRleRow(row, width, out.data());
    out.resize(n);
    EXPECT_EQ(rleRowSize(row, width), n);
    reference.resize(encodeRleRowReference(row, width, reference.data()));
    EXPECT_EQ(reference, out);
    forEachKernelSet([&](const RleKernels& set) {
      Bytes other(size_t{width} * 5);
      other.resize(set.encode_row(row, width, other.data()));
      EXPECT_EQ(other, out);
      EXPECT_EQ(set.row_size(row, width), n);
    });
    all.insert(all.end(), out.begin(), out.end());
  }
  return all;
}

// Checks the encoder's choice and stream for an image whose rows encode to
// `expect` (concatenated).
void checkImage(const Bytes& pixels, uint32_t width, uint32_t height, const Bytes& expect) {
  EXPECT_EQ(encodeRows(pixels, width, height), expect);
  EXPECT_EQ(rleStreamSize(pixels.data(), width, height), expect.size());
  Bytes stream;
  bool packed = encodeRle(pixels.data(), width, height, stream);
  EXPECT_EQ(packed, expect.size() < pixels.size());
  if (packed) {
    EXPECT_EQ(stream, expect);
  }
  Bytes decoded(pixels.size());
  EXPECT_EQ(decodeRle(expect.data(), expect.size(), decoded.data(), decoded.size()),
            pixels.size());
  EXPECT_EQ(decoded, pixels);
}

TEST(RleEncode, PacketExamplesAndTypeChoice) {
  const Bytes d300 = distinctPixels(300);
  const auto part = [&](size_t from, size_t n) {
    return Bytes(d300.begin() + from * 4, d300.begin() + (from + n) * 4);
  };
  struct Case {
    const char* what;
    uint32_t width, height;
    Bytes pixels, stream;
  } cases[] = {
      {"P P Q S", 4, 1, cat({P, P, Q, S}), cat({{0x81}, P, {0x01}, Q, S})},
      {"P Q Q Q", 4, 1, cat({P, Q, Q, Q}), cat({{0x00}, P, {0x82}, Q})},
      {"130 equal", 130, 1, rep(P, 130), cat({{0xFF}, P, {0x81}, P})},
      {"129 equal then Q", 130, 1, cat({rep(P, 129), Q}), cat({{0xFF}, P, {0x01}, P, Q})},
      {"300 distinct", 300, 1, d300,
       cat({{0x78}, part(0, 121), {0x78}, part(121, 121), {0x39}, part(242, 58)})},
      {"width 1", 1, 5, rep(P, 5), rep(cat({{0x00}, P}), 5)},
      {"two rows of three equal", 3, 2, rep(P, 6), cat({{0x82}, P, {0x82}, P})},
      {"stream as long as the pixels", 2, 4, cat({P, P, Q, S, T, U, V, X}),
       cat({{0x81}, P, {0x01}, Q, S, {0x01}, T, U, {0x01}, V, X})},
      {"width 0", 0, 3, {}, {}},
      {"height 0", 3, 0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    checkImage(c.pixels, c.width, c.height, c.stream);
  }
}

// Walks one row's packets; every packet must obey the size rules and the
// packets must describe exactly `width` pixels.
void checkPacketRules(const Bytes& stream, uint32_t width) {
  size_t at = 0, pixels = 0;
  while (at < stream.size()) {
    uint8_t h = stream[at];
    if (h >= 0x80) {
      ASSERT_GE(h, 0x81) << "run of one pixel at " << at;
      pixels += h - 127u;
      at += 5;
    } else {
      ASSERT_LE(h, 120) << "raw packet over 121 pixels at " << at;
      pixels += h + 1u;
      at += 1 + (h + 1u) * 4;
    }
  }
  EXPECT_EQ(at, stream.size());
  EXPECT_EQ(pixels, width);
}

// One row of `width` pixels: all equal, noise, neighbours differing in one
// byte only, spans of equal pixels of random lengths, or short spans with
// noise between them (the packets the fast paths write without a loop).
Bytes makeRow(int pattern, uint32_t width, std::mt19937& rng) {
  static const uint32_t kSpans[] = {1, 2, 3, 120, 121, 122, 127, 128, 129, 256, 257};
  const Bytes base = pix(0x80808080u);
  Bytes row;
  while (row.size() < size_t{width} * 4) {
    Bytes p = pattern == 1 ? pix(rng()) : base;
    size_t n = 1;
    if (pattern == 2 && rng() % 2) p[rng() % 4] ^= 1;
    if (pattern == 3) {
      p[rng() % 4] = uint8_t(rng() % 3);
      n = (rng() % 3) ? 1 + rng() % 6 : kSpans[rng() % 11];
    }
    if (pattern == 4) {
      p = pix(rng() % 4 ? rng() : 0x80808080u);
      n = rng() % 2 ? 1 : 1 + rng() % 10;
    }
    row = cat({row, rep(p, n)});
  }
  row.resize(size_t{width} * 4);
  return row;
}

TEST(RleEncode, MatchesReferenceOverGeneratedRows) {
  std::mt19937 rng(11);
  std::vector<uint32_t> widths = {63, 64, 65, 66, 120, 121, 122, 127, 128, 129,
                                  130, 242, 243, 256, 257, 1000};
  for (uint32_t w = 0; w <= 40; ++w) widths.push_back(w);
  for (uint32_t width : widths) {
    for (int pattern = 0; pattern < 5; ++pattern) {
      for (uint32_t height : {1, 2, 3}) {
        SCOPED_TRACE(::testing::Message() << "width " << width << " pattern " << pattern
                                          << " height " << height);
        Bytes pixels, expect;
        for (uint32_t y = 0; y < height; ++y) {
          Bytes row = makeRow(pattern, width, rng);
          Bytes packets(size_t{width} * 5);
          packets.resize(encodeRleRowReference(row.data(), width, packets.data()));
          checkPacketRules(packets, width);
          pixels = cat({pixels, row});
          expect = cat({expect, packets});
        }
        checkImage(pixels, width, height, expect);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

}  // namespace
