#include "imagefile/file_stream.h"

#include <cerrno>

#include "system/file_names.h"
#include "system/input_file.h"
#include "system/memory_limit.h"
#include "system/report.h"

namespace {

size_t readFile(void* context, uint8_t* dst, size_t size) {
  return std::fread(dst, 1, size, static_cast<std::FILE*>(context));
}

bool rewindFile(void* context) {
  return std::fseek(static_cast<std::FILE*>(context), 0, SEEK_SET) == 0;
}

bool writeSink(void* context, const uint8_t* src, size_t size) {
  const OutputSink& sink = *static_cast<const OutputSink*>(context);
  if (sink.takes_memory && !takeFileMemory(size)) return false;
  return std::fwrite(src, 1, size, sink.out.file) == size;
}

bool restartSink(void* context) {
  auto& sink = *static_cast<OutputSink*>(context);
  abandonOutput(sink.out);
  return openSink(sink.path.c_str(), sink);
}

// Every read and write goes straight to the system: the codec's buffers are
// large, and placed for the file offsets they hold, which a copy through
// the C library's buffer would undo.
void unbuffered(std::FILE* file) { std::setvbuf(file, nullptr, _IONBF, 0); }

}  // namespace

InputFile openInput(const char* path, bool& can_read_again) {
  errno = 0;
  InputFile file(openFile(path, "rb"));
  if (!file) {
    // "not found" only when there is no such file; one that is there but
    // cannot be opened (no permission, a loop of links) is another matter.
    reportLine(isMissingFileError(errno) ? "%s not found\n"
                                         : "%s cannot be read\n",
               path);
    return file;
  }
  // Only a regular file: a pipe's first byte may already be back in the
  // C library's buffer (openFile), and pipes are read whole, not streamed.
  can_read_again = canReadAgain(file.get());
  if (can_read_again) unbuffered(file.get());
  return file;
}

ByteSource fileSource(std::FILE* file, bool can_rewind) {
  return {readFile, file, can_rewind ? rewindFile : nullptr};
}

const MemoryHooks& wholeImageMemory() {
  // Measured for each file that needs more memory than the last: what is
  // free changes as the batch goes on.
  static const MemoryHooks memory{availableMemory, preferHugePages,
                                  chargedMemory};
  return memory;
}

namespace {

const char* refusalFormat(std::FILE* file, LoadStatus status) {
  if (std::ferror(file)) return "%s cannot be read\n";
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

bool finishLoad(const char* path, std::FILE* file, LoadStatus status,
                TgaImage& image) {
  const char* refusal = refusalFormat(file, status);
  if (!refusal) return true;
  // Nothing of a refused file may pass for an image; its pixel block stays
  // for the next file, as after any other.
  image.header = TgaHeader();
  image.pixels.size = 0;
  image.truncated = false;
  reportLine(refusal, path);
  return false;
}

bool openSink(const char* path, OutputSink& sink) {
  sink.path = path;
  if (!openOutput(path, sink.out)) return false;
  unbuffered(sink.out.file);
  sink.takes_memory = !sink.out.in_place && isMemoryBacked(sink.out.file);
  return true;
}

ByteSink byteSink(OutputSink& sink) {
  return {writeSink, &sink, sink.out.in_place ? nullptr : restartSink};
}
