// Built for 32-bit targets only: an image of more pixel bytes than the
// address space holds streams through in a few MiB, its sizes and offsets
// counted in 64 bits. Made and checked on the fly, so that it runs in
// seconds under qemu too.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imagecodec/tga_image.h"
#include "tests/rle_reference.h"

namespace {

constexpr uint16_t WIDTH = 65535;
constexpr uint16_t HEIGHT = 16500;  // 4.3e9 pixel bytes: past 2^32

// Row y: a run across the whole row, in packets of 128 and one of the rest,
// of a colour that changes from row to row.
std::vector<uint8_t> inputRow(uint32_t y) {
  std::vector<uint8_t> row;
  const uint8_t pixel[4] = {uint8_t(y), uint8_t(y >> 8), 0x33, 0x00};
  for (uint32_t left = WIDTH; left > 0;) {
    const uint32_t n = left < 128 ? left : 128;
    row.push_back(uint8_t(0x7F + n));
    row.insert(row.end(), pixel, pixel + 4);
    left -= n;
  }
  return row;
}

// The file, made row by row as it is read.
struct RowsSource {
  std::vector<uint8_t> pending;
  size_t pos = 0;
  uint32_t next_row = 0;
  bool header_sent = false;
};

size_t readRows(void* context, uint8_t* dst, size_t size) {
  auto& s = *static_cast<RowsSource*>(context);
  if (s.pos == s.pending.size()) {
    s.pos = 0;
    if (!s.header_sent) {
      s.header_sent = true;
      TgaHeader header;
      header.image_type = TGA_TYPE_TRUECOLOR_RLE;
      header.width = WIDTH;
      header.height = HEIGHT;
      header.pixel_depth = 32;
      s.pending.assign(TGA_HEADER_SIZE, 0);
      writeTgaHeader(header, s.pending.data());
    } else if (s.next_row < HEIGHT) {
      s.pending = inputRow(s.next_row++);
    } else {
      s.pending.clear();
    }
  }
  const size_t n = std::min(size, s.pending.size() - s.pos);
  std::memcpy(dst, s.pending.data() + s.pos, n);
  s.pos += n;
  return n;
}

// Compares what is written with the reference coder's rows, as it comes.
struct CheckingSink {
  std::vector<uint8_t> expected;
  uint64_t written = 0;
  uint64_t mismatches = 0;
  uint32_t row = 0;
  size_t pos = 0;
};

bool writeChecked(void* context, const uint8_t* src, size_t size) {
  auto& s = *static_cast<CheckingSink*>(context);
  for (size_t i = 0; i < size; ++i, ++s.written) {
    if (s.written < TGA_HEADER_SIZE) continue;
    if (s.pos == s.expected.size()) {
      std::vector<uint8_t> pixels(size_t{WIDTH} * 4);
      for (uint32_t x = 0; x < WIDTH; ++x) {
        const uint8_t pixel[4] = {uint8_t(s.row), uint8_t(s.row >> 8), 0x33, 0xFF};
        std::memcpy(&pixels[x * 4], pixel, 4);
      }
      s.expected.resize(size_t{WIDTH} * 5);
      s.expected.resize(encodeRleRowReference(pixels.data(), WIDTH, s.expected.data()));
      s.pos = 0;
      ++s.row;
    }
    s.mismatches += src[i] != s.expected[s.pos++];
  }
  return true;
}

}  // namespace

TEST(AddressSpace32, ImageBeyondItStreamsThrough) {
  ASSERT_EQ(sizeof(void*), 4u);
  RowsSource rows;
  ByteSource source{readRows, &rows};
  TgaImage image;
  ASSERT_EQ(loadImage(source, image), TgaStatus::OK);
  ASSERT_EQ(pixelByteCount(image.header), uint64_t{WIDTH} * HEIGHT * 4);
  CheckingSink checking;
  ByteSink sink{writeChecked, nullptr, &checking};  // the guess must hold
  SaveBuffers buffers;
  EXPECT_EQ(saveImage(source, image, sink, buffers), TgaStatus::OK);
  EXPECT_FALSE(image.truncated);
  EXPECT_EQ(checking.row, HEIGHT);
  EXPECT_EQ(checking.pos, checking.expected.size());
  EXPECT_EQ(checking.mismatches, 0u);
  EXPECT_EQ(checking.written, TGA_HEADER_SIZE + uint64_t{HEIGHT} * (WIDTH / 128 + 1) * 5);
}
