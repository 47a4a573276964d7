// Built for 32-bit targets only: images whose pixels cannot fit the address
// space must be refused with "is too large", with no size wrapping round to
// a small allocation that the decoder would then overrun.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagecodec/tga_image.h"
#include "imagecodec/tga_stream.h"

namespace {

std::vector<uint8_t> headerBytes(uint16_t width, uint16_t height, uint8_t type,
                                 uint8_t color_map_type) {
  TgaHeader header;
  header.image_type = type;
  header.color_map_type = color_map_type;
  if (color_map_type == 1) {
    header.color_map_spec[2] = 0xFF;  // 65535 entries
    header.color_map_spec[3] = 0xFF;
    header.color_map_spec[4] = 32;
  }
  header.width = width;
  header.height = height;
  header.pixel_depth = 32;
  std::vector<uint8_t> bytes(TGA_HEADER_SIZE);
  writeTgaHeader(header, bytes.data());
  // A few packets, so a decoder that ran on would have something to write.
  for (int i = 0; i < 64; ++i) {
    bytes.insert(bytes.end(), {0xFF, 1, 2, 3, 4});
  }
  return bytes;
}

struct Size {
  uint16_t width, height;
};

// Every product here exceeds 2^31 - 1 bytes; the first ones also wrap round
// to small numbers in 32-bit arithmetic (65536 * 65536 * 4 would be 0).
const Size kTooLarge[] = {
    {65535, 65535}, {65535, 16385}, {32768, 32768}, {16384, 32768},
    {65535, 8193},  {32769, 16384},
};

}  // namespace

TEST(AddressSpace32, ImagesBeyondItAreRefused) {
  ASSERT_EQ(sizeof(void*), 4u);
  for (const Size& size : kTooLarge) {
    for (uint8_t type : {TGA_TYPE_TRUECOLOR, TGA_TYPE_TRUECOLOR_RLE}) {
      for (uint8_t color_map_type : {0, 1}) {
        SCOPED_TRACE(testing::Message()
                     << size.width << "x" << size.height << " type "
                     << int{type} << " colour map " << int{color_map_type});
        std::vector<uint8_t> bytes =
            headerBytes(size.width, size.height, type, color_map_type);
        TgaHeader header;
        readTgaHeader(bytes.data(), header);
        EXPECT_EQ(pixelByteCount(header),
                  uint64_t{size.width} * size.height * 4);
        TgaImage image;
        EXPECT_EQ(readTgaFromMemory(bytes.data(), bytes.size(), image),
                  LoadStatus::TOO_LARGE);
        EXPECT_EQ(image.pixels.data(), nullptr);
      }
    }
  }
}

TEST(AddressSpace32, FileBeyondItGetsOneMessageAndNoOutput) {
  const std::string path = testing::TempDir() + "brisel_huge.tga";
  const std::string output = testing::TempDir() + "brisel_huge_brisel.tga";
  std::remove(output.c_str());
  std::vector<uint8_t> bytes = headerBytes(65535, 65535, 10, 0);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  ASSERT_EQ(std::fclose(file), 0);

  testing::internal::CaptureStdout();
  TgaImage image;
  bool loaded = loadImage(path.c_str(), image);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(loaded);
  EXPECT_EQ(printed, path + " is too large\n");
  EXPECT_EQ(std::fopen(output.c_str(), "rb"), nullptr);
  std::remove(path.c_str());
}

// A large image that does fit: offsets past 2^26 pixels' worth of bytes stay
// right when size_t is 32 bits wide, through decoding, opacity and encoding.
TEST(AddressSpace32, LargeImageThatFitsRoundTrips) {
  const uint16_t width = 4096, height = 4096;
  std::vector<uint8_t> bytes = headerBytes(width, height, 10, 0);
  bytes.resize(TGA_HEADER_SIZE);
  // Each row: a run of 4000 pixels of one colour, then 96 raw pixels.
  for (uint32_t y = 0; y < height; ++y) {
    for (int left = 4000; left > 0; left -= 128) {
      int n = left < 128 ? left : 128;
      bytes.insert(bytes.end(), {static_cast<uint8_t>(0x80 + n - 1),
                                 static_cast<uint8_t>(y), 0x22, 0x33, 0x00});
    }
    bytes.push_back(95);
    for (int x = 0; x < 96; ++x) {
      bytes.insert(bytes.end(), {static_cast<uint8_t>(x), 0x55,
                                 static_cast<uint8_t>(y >> 8), 0x10});
    }
  }
  TgaImage image;
  ASSERT_EQ(readTgaFromMemory(bytes.data(), bytes.size(), image),
            LoadStatus::OK);
  EXPECT_FALSE(image.truncated);
  ASSERT_EQ(image.pixels.size, uint64_t{width} * height * 4);
  makeOpaque(image.pixels.data(), image.pixels.size);
  const uint8_t* last = image.pixels.data() + image.pixels.size - 4;
  EXPECT_EQ(last[0], 95);
  EXPECT_EQ(last[2], (height - 1) >> 8);
  EXPECT_EQ(last[3], 0xFF);

  std::vector<uint8_t> written = writeTgaToMemory(image);
  ASSERT_GT(written.size(), TGA_HEADER_SIZE);
  EXPECT_EQ(written[2], TGA_TYPE_TRUECOLOR_RLE);
  TgaImage again;
  ASSERT_EQ(readTgaFromMemory(written.data(), written.size(), again),
            LoadStatus::OK);
  EXPECT_FALSE(again.truncated);
  ASSERT_EQ(again.pixels.size, image.pixels.size);
  EXPECT_EQ(std::memcmp(again.pixels.data(), image.pixels.data(),
                        static_cast<size_t>(image.pixels.size)), 0);
}
