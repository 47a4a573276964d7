// Streaming an image must give the bytes the format's rules give, taken one
// pixel at a time by the reference coder, whatever the blocks, the guess and
// the kernel set.

#include <gtest/gtest.h>

#include <random>

#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"
#include "tests/test_images.h"

namespace {

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

// Behind a 3-byte ID field and a colour map of two 24-bit entries.
Bytes tgaFile(uint32_t width, uint32_t height, bool rle, const Bytes& pixels) {
  const Bytes extras = {'i', 'd', '!', 1, 2, 3, 4, 5, 6};
  return cat({tgaHeader(rle ? 10 : 2, uint16_t(width), uint16_t(height), 32, 3, 1, 2, 24),
              extras, rle ? packAcrossRows(pixels) : pixels});
}

void expectSameAsReference(const Bytes& file, const SaveTuning& tuning) {
  Bytes expected;
  bool expected_truncated = false;
  ASSERT_TRUE(opaqueFileReference(file.data(), file.size(), expected, expected_truncated));
  Bytes exact(file);  // exactly the bytes given, so a read past them is caught
  Bytes out;
  bool truncated = false;
  ASSERT_EQ(saveImageInMemory(exact.data(), exact.size(), out, truncated, tuning),
            TgaStatus::OK);
  EXPECT_TRUE(out == expected) << out.size() << " bytes, expected " << expected.size();
  EXPECT_EQ(truncated, expected_truncated);
}

std::vector<SaveTuning> tunings() {
  std::vector<SaveTuning> all;
  for (size_t block : {size_t{1}, size_t{300}, size_t{256} << 10}) {
    for (size_t switch_at : {size_t{0}, size_t{2000}, size_t{1} << 20}) {
      for (RowFormat guess : {RowFormat::GUESS, RowFormat::PLAIN, RowFormat::RLE}) {
        all.push_back({block, switch_at, guess});
      }
    }
  }
  return all;
}

TEST(SaveImage, SameBytesAsReferenceForEveryKernelSetBlockAndGuess) {
  struct Shape { uint32_t width, height; std::vector<bool> bands; };
  const Shape shapes[] = {
      {37, 41, {true}},  {37, 41, {false}},       {64, 50, {true, false, false, false}},
      {64, 50, {false, true, true, true}}, {1, 9, {true}}, {200, 3, {true, false}},
      {0, 7, {true}}, {5, 0, {true}},
  };
  std::vector<Bytes> files;
  uint32_t seed = 1;
  for (const Shape& s : shapes) {
    for (bool rle : {false, true}) {
      files.push_back(tgaFile(s.width, s.height, rle, bandedPixels(s.width, s.height, s.bands, seed++)));
    }
  }
  // Bytes after the pixels (a footer) and a stream longer than the pixels,
  // of 199 raw packets of one pixel each.
  const Bytes raw199 = distinctPixels(199);
  Bytes ones;
  for (size_t i = 0; i < 199; ++i) {
    ones = cat({ones, rawPacket(Bytes(raw199.begin() + i * 4, raw199.begin() + i * 4 + 4))});
  }
  files.push_back(cat({tgaHeader(10, 199, 1), ones, Bytes(26, 0xEE)}));
  files.push_back(cat({tgaHeader(2, 2, 2), distinctPixels(4), Bytes(26, 0xEE)}));
  const std::vector<SaveTuning> all = tunings();
  forEachKernelSet([&](const RleKernels&) {
    for (const Bytes& file : files) {
      for (const SaveTuning& t : all) {
        SCOPED_TRACE(::testing::Message() << "file " << (&file - files.data()) << " block "
                                          << t.block_bytes << " switch " << t.switch_bytes
                                          << " guess " << int(t.first_guess));
        expectSameAsReference(file, t);
      }
    }
  });
}

TEST(SaveImage, CutFilesAndWideRows) {
  // A run that crosses a block's end, then the file cut at every length.
  const Bytes pixels = cat({rep(pix(0x01020304), 300), bandedPixels(60, 5, {false}, 7)});
  for (bool rle : {false, true}) {
    const Bytes file = tgaFile(60, 10, rle, pixels);
    for (size_t len = 0; len <= file.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << "rle " << rle << " length " << len);
      const Bytes cut(file.begin(), file.begin() + len);
      if (len < 17) {
        Bytes out;
        bool truncated;
        EXPECT_NE(saveImageInMemory(cut.data(), cut.size(), out, truncated), TgaStatus::OK);
        continue;
      }
      expectSameAsReference(cut, {1, 0, RowFormat::GUESS});
    }
  }
  // The widest rows, each more than a block on its own.
  const Bytes wide = bandedPixels(65535, 3, {true, false, true}, 9);
  expectSameAsReference(tgaFile(65535, 3, true, wide), {});
  expectSameAsReference(tgaFile(65535, 3, false, wide), {1, 0, RowFormat::PLAIN});
}

bool failWrite(void*, const uint8_t*, size_t) { return false; }
bool failRestart(void*, ByteSource&) { return false; }

// A sink that fails, or cannot start over when the guess is wrong, fails
// the image.
TEST(SaveImage, SinkFailuresFailTheImage) {
  const Bytes file = tgaFile(64, 50, false, bandedPixels(64, 50, {false}, 3));
  const SaveTuning wrong{300, 0, RowFormat::RLE};  // noise never packs
  for (bool write_fails : {false, true}) {
    MemoryBytes bytes{file.data(), file.size()};
    ByteSource source = memorySource(bytes);
    TgaImage image;
    ASSERT_EQ(loadImage(source, image), TgaStatus::OK);
    MemorySink memory;
    ByteSink sink = memorySink(memory);
    sink.restart = failRestart;
    if (write_fails) sink.write = failWrite;
    SaveBuffers buffers;
    EXPECT_EQ(saveImage(source, image, sink, buffers, wrong), TgaStatus::WRITE_FAILED);
  }
}

}  // namespace
