// loadImage and saveImage: the codec attached to files, with the messages.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "imagecodec/output_file.h"
#include "imagecodec/report.h"
#include "imagecodec/tga_image.h"

namespace {

size_t readFile(void* context, uint8_t* dst, size_t size) {
  return std::fread(dst, 1, size, static_cast<std::FILE*>(context));
}

bool writeFile(void* context, const uint8_t* src, size_t size) {
  return std::fwrite(src, 1, size, static_cast<std::FILE*>(context)) == size;
}

bool writeBytes(std::FILE* file, const uint8_t* src, size_t size) {
  return size == 0 || std::fwrite(src, 1, size, file) == size;
}

// Rows sized to guess whether packets will pay: about this many bytes.
constexpr size_t GUESS_BYTES = size_t{256} << 10;

enum class OnePass { DONE, NOT_TRIED, NOT_SMALLER, FAILED };

// Writes run-length output in a single pass over the pixels, encoding each
// row once, where the exact writer first sizes the whole stream and then
// encodes it. Packets are only known to pay once every row has been encoded,
// so this is tried only when the first rows come out smaller than plain; it
// gives up as soon as the stream reaches the plain size, and the caller then
// starts the file again with the exact writer, so the bytes written are the
// same either way.
OnePass writeRleInOnePass(const TgaImage& image, std::FILE* file,
                          uint8_t* scratch, size_t scratch_size) {
  const TgaHeader& header = image.header;
  const uint32_t width = header.width;
  const uint32_t height = header.height;
  const uint8_t* pixels = image.pixels.data();
  const uint64_t plain = image.pixels.size;
  const size_t row_bytes = size_t{width} * 4;
  const size_t row_worst = size_t{width} * 5;
  if (plain == 0 || plain != pixelByteCount(header) ||
      scratch_size < row_worst) {
    return OnePass::NOT_TRIED;
  }
  const uint32_t guess_rows = static_cast<uint32_t>(
      std::min<size_t>(height, std::max<size_t>(1, GUESS_BYTES / row_bytes)));
  uint64_t guess = 0;
  for (uint32_t y = 0; y < guess_rows; ++y) {
    guess += rleRowSize(pixels + y * row_bytes, width);
  }
  if (guess >= uint64_t{guess_rows} * row_bytes) return OnePass::NOT_TRIED;

  TgaHeader out_header = header;
  out_header.image_type = TGA_TYPE_TRUECOLOR_RLE;
  uint8_t header_bytes[TGA_HEADER_SIZE];
  writeTgaHeader(out_header, header_bytes);
  if (!writeBytes(file, header_bytes, TGA_HEADER_SIZE) ||
      !writeBytes(file, image.id_and_color_map.data(),
                  image.id_and_color_map.size())) {
    return OnePass::FAILED;
  }
  uint64_t packed = 0;
  size_t used = 0;
  for (uint32_t y = 0; y < height; ++y) {
    if (scratch_size - used < row_worst) {
      if (!writeBytes(file, scratch, used)) return OnePass::FAILED;
      used = 0;
    }
    size_t n = encodeRleRow(pixels + y * row_bytes, width, scratch + used);
    used += n;
    packed += n;
    if (packed >= plain) return OnePass::NOT_SMALLER;
  }
  return writeBytes(file, scratch, used) ? OnePass::DONE : OnePass::FAILED;
}

}  // namespace

bool loadImage(const char* path, TgaImage& image) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    reportLine("%s not found\n", path);
    return false;
  }
  ByteSource source{readFile, file};
  LoadStatus status = readTga(source, image);
  std::fclose(file);
  switch (status) {
    case LoadStatus::OK:
      return true;
    case LoadStatus::NOT_TGA:
      reportLine("%s is not tga file\n", path);
      break;
    case LoadStatus::NOT_32BIT:
      reportLine("%s is not 32bit tga file\n", path);
      break;
    case LoadStatus::TOO_LARGE:
      reportLine("%s is too large\n", path);
      break;
  }
  image = TgaImage();
  return false;
}

bool saveImage(const char* path, const TgaImage& image) {
  if (image.header.image_type != TGA_TYPE_TRUECOLOR ||
      image.header.pixel_depth != 32) {
    return false;
  }
  std::vector<uint8_t> scratch(tgaWriteScratchSize(image.header));
  OutputFile out;
  if (!openOutput(path, out)) return false;
  // The single pass may have to start the file again, which only a
  // temporary file allows; a device or pipe written in place gets the
  // exact writer alone.
  if (!out.in_place) {
    switch (
        writeRleInOnePass(image, out.file, scratch.data(), scratch.size())) {
      case OnePass::DONE:
        return commitOutput(out);
      case OnePass::FAILED:
        abandonOutput(out);
        return false;
      case OnePass::NOT_SMALLER:
        abandonOutput(out);
        if (!openOutput(path, out)) return false;
        break;
      case OnePass::NOT_TRIED:
        break;
    }
  }
  ByteSink sink{writeFile, out.file};
  if (!writeTga(image, sink, scratch.data(), scratch.size())) {
    abandonOutput(out);
    return false;
  }
  return commitOutput(out);
}
