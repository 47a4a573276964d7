// The header record, and loadImage: what comes before the pixels.

#include <algorithm>
#include <cstring>

#include "imagecodec/row_io.h"
#include "imagecodec/tga_image.h"

namespace {

uint16_t readLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void writeLe16(uint16_t value, uint8_t* p) {
  p[0] = static_cast<uint8_t>(value & 0xFF);
  p[1] = static_cast<uint8_t>(value >> 8);
}

size_t readMemory(void* context, uint8_t* dst, size_t size) {
  auto& bytes = *static_cast<MemoryBytes*>(context);
  const size_t n = std::min(size, bytes.size - bytes.pos);
  if (n > 0) std::memcpy(dst, bytes.data + bytes.pos, n);
  bytes.pos += n;
  return n;
}

}  // namespace

void readTgaHeader(const uint8_t bytes[TGA_HEADER_SIZE], TgaHeader& header) {
  header.id_length = bytes[0];
  header.color_map_type = bytes[1];
  header.image_type = bytes[2];
  std::memcpy(header.color_map_spec, bytes + 3, 5);
  header.x_origin = readLe16(bytes + 8);
  header.y_origin = readLe16(bytes + 10);
  header.width = readLe16(bytes + 12);
  header.height = readLe16(bytes + 14);
  header.pixel_depth = bytes[16];
  header.image_descriptor = bytes[17];
}

void writeTgaHeader(const TgaHeader& header, uint8_t bytes[TGA_HEADER_SIZE]) {
  bytes[0] = header.id_length;
  bytes[1] = header.color_map_type;
  bytes[2] = header.image_type;
  std::memcpy(bytes + 3, header.color_map_spec, 5);
  writeLe16(header.x_origin, bytes + 8);
  writeLe16(header.y_origin, bytes + 10);
  writeLe16(header.width, bytes + 12);
  writeLe16(header.height, bytes + 14);
  bytes[16] = header.pixel_depth;
  bytes[17] = header.image_descriptor;
}

uint64_t pixelByteCount(const TgaHeader& header) {
  return uint64_t{header.width} * header.height * BYTES_PER_PIXEL;
}

size_t idAndColorMapSize(const TgaHeader& header) {
  size_t size = header.id_length;
  // Only type 1 announces a colour map; other values are reserved and carry none.
  if (header.color_map_type == 1) {
    size_t entries = readLe16(header.color_map_spec + 2);
    size_t entry_bits = header.color_map_spec[4];
    size += entries * ((entry_bits + 7) / 8);  // at most 65535 * 32 bytes
  }
  return size;
}

size_t readSource(ByteSource& source, uint8_t* dst, size_t size) {
  size_t got = 0;
  while (got < size) {
    const size_t n = source.read(source.context, dst + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

TgaStatus loadImage(ByteSource& source, TgaImage& image) {
  uint8_t header_bytes[TGA_HEADER_SIZE] = {};
  const size_t got = readSource(source, header_bytes, TGA_HEADER_SIZE);
  TgaHeader& header = image.header;
  readTgaHeader(header_bytes, header);
  image.id_and_color_map.clear();
  image.truncated = false;
  if (header.image_type != TGA_TYPE_TRUECOLOR &&
      header.image_type != TGA_TYPE_TRUECOLOR_RLE) {
    return TgaStatus::NOT_TGA;
  }
  if (header.pixel_depth != 32) return TgaStatus::NOT_32BIT;
  image.id_and_color_map.resize(idAndColorMapSize(header));
  const size_t extra = image.id_and_color_map.size();
  image.truncated =
      got < TGA_HEADER_SIZE ||
      readSource(source, image.id_and_color_map.data(), extra) < extra;
  return TgaStatus::OK;
}

ByteSource memorySource(MemoryBytes& bytes) { return {readMemory, &bytes}; }
