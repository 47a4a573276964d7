// loadImage and saveImage: the codec attached to files, with the messages.

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "system/file_names.h"
#include "system/memory_limit.h"
#include "system/output_file.h"
#include "system/report.h"
#include "imagecodec/tga_image.h"
#include "imagecodec/tga_one_pass.h"
#include "imagecodec/tga_stream.h"

namespace {

size_t readFile(void* context, uint8_t* dst, size_t size) {
  return std::fread(dst, 1, size, static_cast<std::FILE*>(context));
}

// An output, and whether its pages take memory (isMemoryBacked): there an
// output too large for what is left fails, rather than get the batch killed
// part way.
struct SinkFile {
  std::FILE* file;
  bool takes_memory;
};

SinkFile sinkFile(const OutputFile& out) {
  return {out.file, !out.in_place && isMemoryBacked(out.file)};
}

bool writeFile(void* context, const uint8_t* src, size_t size) {
  const SinkFile& out = *static_cast<const SinkFile*>(context);
  if (out.takes_memory && !takeFileMemory(size)) return false;
  return std::fwrite(src, 1, size, out.file) == size;
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
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(openFile(path, "rb"));
  if (!file) {
    // "not found" only when there is no such file; one that is there but
    // cannot be opened (no permission, a loop of links) is another matter.
    reportLine(isMissingFileError(errno) ? "%s not found\n"
                                         : "%s cannot be read\n",
               path);
    return false;
  }
  ByteSource source{readFile, file.get()};
  // Measured for each file that needs more memory than the last: what is
  // free changes as the batch goes on.
  static const MemoryHooks memory{availableMemory, preferHugePages,
                                  chargedMemory};
  const LoadStatus status = readTga(source, image, buffers, &memory);
  // A failed read looks like the end of the file to the codec; it must not
  // pass for a short file, whose missing pixels would be written as zero.
  const char* refusal = std::ferror(file.get()) ? "%s cannot be read\n"
                                                : refusalFormat(status);
  if (!refusal) return true;
  // Nothing of a refused file may pass for an image; its pixel block stays
  // for the next file, as after any other.
  image.header = TgaHeader();
  image.pixels.size = 0;
  image.truncated = false;
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
  SinkFile target = sinkFile(out);
  ByteSink sink{writeFile, &target};
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
      target = sinkFile(out);
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
