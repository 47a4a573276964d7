// Streaming rows must give the bytes of the whole-image path, whatever the
// blocks, the guess, or the kind of sink.

#include <gtest/gtest.h>

#include <random>

#include "imagecodec/row_stream.h"
#include "tests/test_images.h"

namespace {

// The whole-image path: load, set alpha, write.
Bytes wholeImageOutput(const Bytes& file, bool& truncated) {
  TgaImage image;
  if (readTgaFromMemory(file.data(), file.size(), image) != LoadStatus::OK) return {};
  makeOpaque(image.pixels.data(), image.pixels.size);
  truncated = image.truncated;
  return writeTgaToMemory(image);
}

// Pixels in bands of rows: spans that pack well, or noise that does not, so
// the first rows can say the opposite of the whole. Some neighbours differ
// only in alpha, and become equal once it is set.
Bytes bandedPixels(uint32_t width, uint32_t height, const std::vector<bool>& bands,
                   uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  for (uint32_t y = 0; y < height; ++y) {
    const bool spans = bands[y * bands.size() / height];
    uint32_t pixel = rng();
    for (uint32_t x = 0; x < width; ++x) {
      if (!spans || rng() % 9 == 0) pixel = rng();
      if (spans && rng() % 3 == 0) pixel ^= (rng() & 0xFF) << 24;
      Bytes p = pix(pixel);
      out.insert(out.end(), p.begin(), p.end());
    }
  }
  return out;
}

// Packets across row ends, as other programs may write them: runs of up to
// 128 equal pixels, raw packets of up to 128 others.
Bytes packAcrossRows(const Bytes& pixels) {
  Bytes out;
  const size_t n = pixels.size() / 4;
  auto same = [&](size_t a, size_t b) {
    return std::equal(&pixels[a * 4], &pixels[a * 4 + 4], &pixels[b * 4]);
  };
  for (size_t i = 0; i < n;) {
    size_t run = 1;
    while (i + run < n && run < 128 && same(i, i + run)) ++run;
    if (run > 1) {
      out.push_back(uint8_t(0x7F + run));
      out.insert(out.end(), &pixels[i * 4], &pixels[i * 4 + 4]);
      i += run;
      continue;
    }
    size_t raw = 1;
    while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1))) ++raw;
    out.push_back(uint8_t(raw - 1));
    out.insert(out.end(), &pixels[i * 4], &pixels[(i + raw) * 4]);
    i += raw;
  }
  return out;
}

Bytes tgaFile(uint32_t width, uint32_t height, bool rle, const Bytes& pixels) {
  const Bytes id = {'i', 'd', '!'};
  return cat({tgaHeader(rle ? 10 : 2, uint16_t(width), uint16_t(height), 32, uint8_t(id.size())),
              id, rle ? packAcrossRows(pixels) : pixels});
}

void expectSameAsWholeImage(const Bytes& file, const RowStreamTuning& tuning) {
  bool whole_truncated = false;
  const Bytes expected = wholeImageOutput(file, whole_truncated);
  for (bool in_place : {false, true}) {
    SCOPED_TRACE(in_place ? "sink written in place" : "sink that restarts");
    Bytes out;
    bool truncated = false;
    ASSERT_EQ(writeOpaqueRowsInMemory(file.data(), file.size(), out, truncated, tuning,
                                      in_place),
              LoadStatus::OK);
    EXPECT_TRUE(out == expected) << out.size() << " bytes, expected " << expected.size();
    EXPECT_EQ(truncated, whole_truncated);
  }
}

std::vector<RowStreamTuning> tunings() {
  std::vector<RowStreamTuning> all;
  for (size_t block : {size_t{1}, size_t{300}, size_t{256} << 10}) {
    for (size_t switch_at : {size_t{0}, size_t{2000}, size_t{1} << 20}) {
      for (RowFormat guess : {RowFormat::GUESS, RowFormat::PLAIN, RowFormat::RLE}) {
        all.push_back({block, switch_at, guess});
      }
    }
  }
  return all;
}

TEST(RowStream, SameBytesAsWholeImageForEveryBlockGuessAndSink) {
  struct Shape { uint32_t width, height; std::vector<bool> bands; };
  const Shape shapes[] = {
      {37, 41, {true}},  {37, 41, {false}},       {64, 50, {true, false, false, false}},
      {64, 50, {false, true, true, true}}, {1, 9, {true}}, {200, 3, {true, false}},
      {0, 7, {true}}, {5, 0, {true}},
  };
  uint32_t seed = 1;
  const std::vector<RowStreamTuning> all = tunings();
  for (const Shape& s : shapes) {
    for (bool rle : {false, true}) {
      const Bytes file = tgaFile(s.width, s.height, rle, bandedPixels(s.width, s.height, s.bands, seed++));
      for (const RowStreamTuning& t : all) {
        SCOPED_TRACE(::testing::Message() << s.width << "x" << s.height << " rle " << rle
                                          << " block " << t.block_bytes << " switch "
                                          << t.switch_bytes << " guess " << int(t.first_guess));
        expectSameAsWholeImage(file, t);
      }
    }
  }
}

TEST(RowStream, CutFilesAndWideRows) {
  // A run that crosses a block's end, then the file cut at every length.
  const Bytes pixels = cat({rep(pix(0x01020304), 300), bandedPixels(60, 5, {false}, 7)});
  for (bool rle : {false, true}) {
    const Bytes file = tgaFile(60, 10, rle, pixels);
    for (size_t len = 18; len <= file.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << "rle " << rle << " length " << len);
      expectSameAsWholeImage(Bytes(file.begin(), file.begin() + len), {1, 0, RowFormat::GUESS});
    }
  }
  // The widest rows, each more than a block on its own.
  const Bytes wide = bandedPixels(65535, 3, {true, false, true}, 9);
  expectSameAsWholeImage(tgaFile(65535, 3, true, wide), {});
  expectSameAsWholeImage(tgaFile(65535, 3, false, wide), {1, 0, RowFormat::PLAIN});
}

}  // namespace
