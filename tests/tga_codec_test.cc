#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imagecodec/tga_image.h"
#include "imagecodec/tga_stream.h"
#include "tests/test_images.h"

namespace {

const Bytes A = pix(0x04030201), B = pix(0x08070605), C = pix(0x0C0B0A09),
            D = pix(0x100F0E0D), E = pix(0x14131211), F = pix(0x18171615),
            G = pix(0x1C1B1A19);

LoadStatus load(const Bytes& file, TgaImage& image) {
  Bytes exact(file);  // exactly the bytes given, so a read past them is caught
  return readTgaFromMemory(exact.data(), exact.size(), image);
}

Bytes pixelsOf(const TgaImage& image) {
  return Bytes(image.pixels.data(), image.pixels.data() + image.pixels.size);
}

TEST(TgaHeader, ReadWriteRoundTripLittleEndian) {
  const Bytes bytes = {5,    1,    10,   0x34, 0x12, 0x03, 0x00, 24,   0x11,
                       0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 32,   0x28};
  TgaHeader h;
  readTgaHeader(bytes.data(), h);
  EXPECT_EQ((std::vector<unsigned>{h.id_length, h.color_map_type, h.image_type,
                                   h.color_map_spec[0], h.color_map_spec[4], h.x_origin,
                                   h.y_origin, h.width, h.height, h.pixel_depth,
                                   h.image_descriptor}),
            (std::vector<unsigned>{5, 1, 10, 0x34, 24, 0x2211, 0x4433, 0x6655, 0x8877, 32, 0x28}));
  Bytes back(TGA_HEADER_SIZE);
  writeTgaHeader(h, back.data());
  EXPECT_EQ(back, bytes);
  h.width = h.height = 65535;
  EXPECT_EQ(pixelByteCount(h), 65535ull * 65535 * 4);
}

TEST(TgaHeader, IdAndColorMapSize) {
  struct { uint8_t id, map_type; uint16_t entries; uint8_t bits; size_t size; } cases[] = {
      {0, 0, 0, 0, 0},      {9, 0, 3, 24, 9},  {9, 2, 3, 24, 9},   {5, 1, 3, 15, 11},
      {0, 1, 3, 16, 6},     {0, 1, 3, 24, 9},  {7, 1, 2, 32, 15},  {255, 1, 0, 24, 255},
      {0, 1, 65535, 32, 65535 * 4},
  };
  for (const auto& c : cases) {
    TgaHeader h;
    readTgaHeader(tgaHeader(2, 1, 1, 32, c.id, c.map_type, c.entries, c.bits).data(), h);
    EXPECT_EQ(idAndColorMapSize(h), c.size) << int(c.id) << " " << int(c.map_type) << " "
                                            << c.entries << "x" << int(c.bits);
  }
}

TEST(TgaCodec, LoadsValidFilesAndIgnoresTrailingBytes) {
  const Bytes footer(26, 0xEE);
  const Bytes raw199 = distinctPixels(199);
  Bytes ones;  // 199 raw packets of one pixel: 995 bytes for 796 pixel bytes
  for (size_t i = 0; i < 199; ++i) {
    ones = cat({ones, rawPacket(Bytes(raw199.begin() + i * 4, raw199.begin() + i * 4 + 4))});
  }
  struct { const char* what; Bytes file, pixels; } cases[] = {
      {"type 2", cat({tgaHeader(2, 2, 2), A, B, C, D, footer}), cat({A, B, C, D})},
      {"type 10", cat({tgaHeader(10, 3, 1), {0x81}, A, {0x00}, B, footer}), cat({A, A, B})},
      {"type 10 stream longer than the pixels", cat({tgaHeader(10, 199, 1), ones, footer}), raw199},
      {"type 2, 0 x 5", cat({tgaHeader(2, 0, 5), footer}), {}},
      {"type 10, 5 x 0", cat({tgaHeader(10, 5, 0), footer}), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TgaImage image;
    ASSERT_EQ(load(c.file, image), LoadStatus::OK);
    EXPECT_EQ(image.header.image_type, 2);
    EXPECT_EQ(image.header.image_descriptor, 0x28);
    EXPECT_FALSE(image.truncated);
    EXPECT_EQ(pixelsOf(image), c.pixels);
  }
}

TEST(TgaCodec, RefusesOtherTypesAndDepthsTypeFirst) {
  std::vector<std::pair<Bytes, LoadStatus>> cases = {
      {{}, LoadStatus::NOT_TGA},       {{0}, LoadStatus::NOT_TGA},
      {{0, 0}, LoadStatus::NOT_TGA},   {{0, 0, 2}, LoadStatus::NOT_32BIT},
      {cat({tgaHeader(2, 2, 2, 24), Bytes(40)}), LoadStatus::NOT_32BIT},
      {cat({tgaHeader(10, 2, 2, 16), Bytes(40)}), LoadStatus::NOT_32BIT}};
  for (uint8_t type : {0, 1, 3, 9, 11}) {
    cases.push_back({cat({tgaHeader(type, 2, 2, 8), Bytes(40)}), LoadStatus::NOT_TGA});
  }
  for (const auto& c : cases) {
    TgaImage image;
    EXPECT_EQ(load(c.first, image), c.second) << ::testing::PrintToString(c.first);
  }
}

// A 5x3 image behind a 6-byte ID field and a colour map of 4 24-bit entries,
// stored plain or as packets that cross row ends.
const Bytes kExtras = {'i', 'd', 'f', 'l', 'd', '!', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const Bytes kPixels = cat({A, B, C, D, D, D, D, E, F, G, G, G, G, G, G});
Bytes fileWithExtras(uint8_t type, uint16_t width = 5) {
  Bytes data = type == 2 ? kPixels
                         : cat({rawPacket(cat({A, B, C})), runPacket(4, D),
                                rawPacket(cat({E, F})), runPacket(6, G)});
  if (width == 0) data.clear();
  return cat({tgaHeader(type, width, 3, 32, 6, 1, 4, 24), kExtras, data});
}

// Every prefix of a valid file loads without harm: header fields present are
// kept, missing bytes are zero, and the image counts as truncated exactly when
// bytes are missing.
TEST(TgaCodec, FileCutAtEveryLength) {
  // Every cut is read into one record right after a larger image of other
  // pixels, whose block it takes over: none of those bytes may show through.
  const Bytes larger = cat({tgaHeader(2, 64, 1), rep(pix(0xEEEEEEEE), 64)});
  TgaImage image;
  for (auto [width, type] : {std::pair<uint16_t, uint8_t>{5, 2}, {5, 10}, {0, 2}, {0, 10}}) {
    const Bytes file = fileWithExtras(type, width);
    const Bytes full = width ? kPixels : Bytes();
    size_t last_good = 0;
    for (size_t len = 0; len <= file.size() + 1; ++len) {
      SCOPED_TRACE(::testing::Message() << "type " << int(type) << " width " << width
                                        << " length " << len);
      Bytes cut(file.begin(), file.begin() + std::min(len, file.size()));
      if (len > file.size()) cut.push_back(0x55);  // a byte after the data
      ASSERT_EQ(load(larger, image), LoadStatus::OK);
      LoadStatus status = load(cut, image);
      if (len < 3) { EXPECT_EQ(status, LoadStatus::NOT_TGA); continue; }
      if (len < 17) { EXPECT_EQ(status, LoadStatus::NOT_32BIT); continue; }
      ASSERT_EQ(status, LoadStatus::OK);
      EXPECT_EQ(image.truncated, len < file.size());
      Bytes header(TGA_HEADER_SIZE);
      writeTgaHeader(image.header, header.data());
      Bytes expect_header(file.begin(), file.begin() + TGA_HEADER_SIZE);
      expect_header[2] = 2;
      if (len == 17) expect_header[17] = 0;
      EXPECT_EQ(header, expect_header);
      Bytes extras = image.id_and_color_map;
      ASSERT_EQ(extras.size(), kExtras.size());
      for (size_t i = 0; i < extras.size(); ++i) {
        EXPECT_EQ(extras[i], TGA_HEADER_SIZE + i < len ? kExtras[i] : 0) << i;
      }
      // The pixels are the full image's up to some point, and zero after it.
      Bytes pixels = pixelsOf(image);
      ASSERT_EQ(pixels.size(), full.size());
      size_t good = std::find(pixels.begin(), pixels.end(), 0) - pixels.begin();
      EXPECT_TRUE(std::equal(pixels.begin(), pixels.begin() + good, full.begin()));
      EXPECT_TRUE(std::all_of(pixels.begin() + good, pixels.end(), [](uint8_t b) { return b == 0; }));
      EXPECT_GE(good, last_good);
      last_good = good;
      size_t data_len = len - std::min(len, TGA_HEADER_SIZE + kExtras.size());
      if (type == 2) {
        EXPECT_EQ(good, std::min(data_len, full.size()));
      }
      if (len >= file.size()) {
        EXPECT_EQ(good, full.size());
      }
    }
  }
}

// The output has the input's header except image_type, then the same ID field
// and colour map bytes, then the data, packed only when that is smaller.
TEST(TgaCodec, WriteCarriesHeaderIdAndColorMap) {
  const Bytes noise = distinctPixels(15, 3);
  struct { Bytes file, pixels; uint8_t out_type; } cases[] = {
      {fileWithExtras(2), kPixels, 10},
      {fileWithExtras(10), kPixels, 10},
      {cat({tgaHeader(10, 5, 3, 32, 6, 1, 4, 24), kExtras, rawPacket(noise)}), noise, 2},
  };
  for (const auto& c : cases) {
    TgaImage image;
    ASSERT_EQ(load(c.file, image), LoadStatus::OK);
    Bytes out = writeTgaToMemory(image);
    ASSERT_GE(out.size(), TGA_HEADER_SIZE + kExtras.size());
    EXPECT_EQ(out[2], c.out_type);
    out[2] = c.file[2];
    EXPECT_TRUE(std::equal(c.file.begin(), c.file.begin() + TGA_HEADER_SIZE + kExtras.size(),
                           out.begin()));
    if (c.out_type == 2) {
      EXPECT_EQ(Bytes(out.begin() + 36, out.end()), c.pixels);
    }
    out[2] = c.out_type;
    TgaImage again;
    ASSERT_EQ(load(out, again), LoadStatus::OK);
    EXPECT_FALSE(again.truncated);
    EXPECT_EQ(pixelsOf(again), c.pixels);
    EXPECT_EQ(again.id_and_color_map, kExtras);
  }
}

TEST(TgaCodec, MakeOpaqueChangesOnlyAlpha) {
  forEachKernelSet([](const RleKernels&) {
    std::mt19937 rng(5);
    Bytes pixels(4 * 37);
    for (uint8_t& b : pixels) b = uint8_t(rng());
    Bytes before = pixels;
    makeOpaque(pixels.data(), 4 * 36);  // the last pixel is left out
    for (size_t i = 0; i < pixels.size(); ++i) {
      EXPECT_EQ(pixels[i], i % 4 == 3 && i < 4 * 36 ? 0xFF : before[i]) << i;
    }
    makeOpaque(nullptr, 0);
  });
}

}  // namespace
