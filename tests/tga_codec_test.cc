#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imagecodec/tga_image.h"
#include "tests/test_images.h"

namespace {

const Bytes A = pix(0x04030201), B = pix(0x08070605), C = pix(0x0C0B0A09),
            D = pix(0x100F0E0D), E = pix(0x14131211), F = pix(0x18171615),
            G = pix(0x1C1B1A19);

TgaStatus load(const Bytes& file, TgaImage& image) {
  Bytes exact(file);  // exactly the bytes given, so a read past them is caught
  MemoryBytes bytes{exact.data(), exact.size()};
  ByteSource source = memorySource(bytes);
  return loadImage(source, image);
}

Bytes save(const Bytes& file) {
  Bytes out;
  bool truncated = false;
  EXPECT_EQ(saveImageInMemory(file.data(), file.size(), out, truncated), TgaStatus::OK);
  EXPECT_FALSE(truncated);
  return out;
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

TEST(TgaCodec, RefusesOtherTypesAndDepthsTypeFirst) {
  std::vector<std::pair<Bytes, TgaStatus>> cases = {
      {{}, TgaStatus::NOT_TGA},       {{0}, TgaStatus::NOT_TGA},
      {{0, 0}, TgaStatus::NOT_TGA},   {{0, 0, 2}, TgaStatus::NOT_32BIT},
      {cat({tgaHeader(2, 2, 2, 24), Bytes(40)}), TgaStatus::NOT_32BIT},
      {cat({tgaHeader(10, 2, 2, 16), Bytes(40)}), TgaStatus::NOT_32BIT}};
  for (uint8_t type : {0, 1, 3, 9, 11}) {
    cases.push_back({cat({tgaHeader(type, 2, 2, 8), Bytes(40)}), TgaStatus::NOT_TGA});
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
Bytes fileWithExtras(uint8_t type) {
  Bytes data = type == 2 ? kPixels
                         : cat({rawPacket(cat({A, B, C})), runPacket(4, D),
                                rawPacket(cat({E, F})), runPacket(6, G)});
  return cat({tgaHeader(type, 5, 3, 32, 6, 1, 4, 24), kExtras, data});
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
    Bytes out = save(c.file);
    ASSERT_GE(out.size(), TGA_HEADER_SIZE + kExtras.size());
    EXPECT_EQ(out[2], c.out_type);
    out[2] = c.file[2];
    EXPECT_TRUE(std::equal(c.file.begin(), c.file.begin() + TGA_HEADER_SIZE + kExtras.size(),
                           out.begin()));
    Bytes opaque = c.pixels;
    for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 0xFF;
    const Bytes data(out.begin() + 36, out.end());
    if (c.out_type == 2) {
      EXPECT_EQ(data, opaque);
    } else {
      Bytes decoded(opaque.size());
      decodeRle(data.data(), data.size(), decoded.data(), decoded.size());
      EXPECT_EQ(decoded, opaque);
    }
  }
  // Packets run across a row end in the input, never in the output.
  EXPECT_EQ(save(cat({tgaHeader(10, 2, 2), runPacket(4, A)})),
            cat({tgaHeader(10, 2, 2), runPacket(2, pix(0xFF030201)),
                 runPacket(2, pix(0xFF030201))}));
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
