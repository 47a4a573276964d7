#include "imagefile/opaque_file.h"

#include <cerrno>
#include <string>

#include "system/file_names.h"
#include "system/output_file.h"
#include "system/tmpfs_output.h"

namespace {

size_t readFile(void* context, uint8_t* dst, size_t size) {
  return std::fread(dst, 1, size, static_cast<std::FILE*>(context));
}

ByteSource fileSource(std::FILE* file) { return {readFile, file}; }

// Every read and write goes straight to the system: the codec's buffers are
// large, and placed for the file offsets they hold, which a copy through
// the C library's buffer would undo.
void unbuffered(std::FILE* file) { std::setvbuf(file, nullptr, _IONBF, 0); }

// The output being written and, after a restart, the one before it, which
// is read back. Either may lie on a file system held in memory.
struct OutputSink {
  const char* path = nullptr;
  OutputFile files[2];
  int current = 0;
  bool takes_memory = false;

  OutputFile& out() { return files[current]; }
};

bool openSink(OutputSink& sink) {
  if (!openOutput(sink.path, sink.out())) return false;
  unbuffered(sink.out().file);
  sink.takes_memory = isMemoryBacked(sink.out().file);
  return true;
}

bool writeSink(void* context, const uint8_t* src, size_t size) {
  OutputSink& sink = *static_cast<OutputSink*>(context);
  if (sink.takes_memory && !takeFileMemory(size)) return false;
  return std::fwrite(src, 1, size, sink.out().file) == size;
}

bool restartSink(void* context, ByteSource& written) {
  OutputSink& sink = *static_cast<OutputSink*>(context);
  std::FILE* const before = sink.out().file;
  sink.current ^= 1;  // openOutput lets go of what the slot held
  if (!openSink(sink) || std::fseek(before, 0, SEEK_SET) != 0) return false;
  written = fileSource(before);
  return true;
}

}  // namespace

bool openImage(const char* path, ImageJob& job, Message& refusal) {
  errno = 0;
  job.input.reset(openFile(path, "rb"));
  if (!job.input) {
    // "not found" only when there is no such file; one that is there but
    // cannot be opened (no permission, a loop of links) is another matter.
    refusal = isMissingFileError(errno) ? Message::NOT_FOUND
                                        : Message::CANNOT_BE_READ;
    return false;
  }
  job.stamp = fileStamp(job.input.get());
  // Not a pipe: its first byte may already be back in the C library's
  // buffer (openFile).
  if (job.stamp.known) unbuffered(job.input.get());
  ByteSource source = fileSource(job.input.get());
  const TgaStatus status = loadImage(source, job.image);
  // A failed read looks like the end of the file to the codec, and must not
  // pass for a short file.
  if (std::ferror(job.input.get())) {
    refusal = Message::CANNOT_BE_READ;
  } else if (status == TgaStatus::NOT_TGA) {
    refusal = Message::NOT_TGA;
  } else if (status == TgaStatus::NOT_32BIT) {
    refusal = Message::NOT_32BIT;
  } else {
    return true;
  }
  job.input.reset();
  return false;
}

Message saveOpaqueImage(const char* path, ImageJob& job) {
  InputFile input = std::move(job.input);
  OutputSink target;
  target.path = path;
  if (!openSink(target)) return Message::CANNOT_BE_WRITTEN;
  ByteSource source = fileSource(input.get());
  ByteSink sink{writeSink, restartSink, &target};
  const TgaStatus status = saveImage(source, job.image, sink, job.buffers);
  const bool read_whole = !std::ferror(input.get()) &&
                          sameStamp(fileStamp(input.get()), job.stamp);
  input.reset();
  abandonOutput(target.files[target.current ^ 1]);
  if (status != TgaStatus::OK) return Message::CANNOT_BE_WRITTEN;
  if (!read_whole) return Message::CANNOT_BE_READ;
  return commitOutput(target.out()) ? Message::WRITTEN
                                    : Message::CANNOT_BE_WRITTEN;
}
