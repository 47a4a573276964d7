// loadImage and saveImage: the codec attached to files, with the messages.

#include <cstdio>
#include <memory>
#include <vector>

#include "imagecodec/file_names.h"
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

// Closes the input on every way out of loadImage, a bad_alloc included: a
// batch of thousands of files must not run out of descriptors.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The line for a file that was opened but is refused; null when it loaded.
const char* refusalFormat(LoadStatus status) {
  switch (status) {
    case LoadStatus::OK:
      return nullptr;
    case LoadStatus::NOT_TGA:
      return "%s is not tga file\n";
    case LoadStatus::NOT_32BIT:
      return "%s is not 32bit tga file\n";
    case LoadStatus::TOO_LARGE:
      return "%s is too large\n";
  }
  return nullptr;
}

}  // namespace

bool loadImage(const char* path, TgaImage& image, CodecBuffers& buffers) {
  std::unique_ptr<std::FILE, FileCloser> file(openFile(path, "rb"));
  if (!file) {
    reportLine("%s not found\n", path);
    return false;
  }
  ByteSource source{readFile, file.get()};
  const LoadStatus status = readTga(source, image, buffers);
  // A failed read looks like the end of the file to the codec; it must not
  // pass for a short file, whose missing pixels would be written as zero.
  const char* refusal = std::ferror(file.get()) ? "%s cannot be read\n"
                                                : refusalFormat(status);
  if (!refusal) return true;
  image = TgaImage();
  reportLine(refusal, path);
  return false;
}

bool loadImage(const char* path, TgaImage& image) {
  CodecBuffers buffers;
  return loadImage(path, image, buffers);
}

bool saveImage(const char* path, const TgaImage& image, CodecBuffers& buffers) {
  if (image.header.image_type != TGA_TYPE_TRUECOLOR ||
      image.header.pixel_depth != 32) {
    return false;
  }
  const size_t scratch_size = tgaWriteScratchSize(image.header);
  uint8_t* scratch = reserveBytes(buffers.write_scratch, scratch_size);
  OutputFile out;
  if (!openOutput(path, out)) return false;
  ByteSink sink{writeFile, out.file};
  // Starting again is only possible in a temporary file; a device or pipe
  // written in place gets the exact writer alone.
  WriteResult result =
      out.in_place
          ? WriteResult::START_OVER
          : writeTgaInOnePass(image, sink, scratch, scratch_size);
  if (result == WriteResult::START_OVER) {
    if (!out.in_place) {
      abandonOutput(out);
      if (!openOutput(path, out)) return false;
      sink.context = out.file;
    }
    result = writeTga(image, sink, scratch, scratch_size)
                 ? WriteResult::OK
                 : WriteResult::FAILED;
  }
  if (result != WriteResult::OK) {
    abandonOutput(out);
    return false;
  }
  return commitOutput(out);
}

bool saveImage(const char* path, const TgaImage& image) {
  CodecBuffers buffers;
  return saveImage(path, image, buffers);
}
