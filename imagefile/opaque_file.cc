#include "imagefile/opaque_file.h"

bool openImage(const char* path, ImageJob& job) {
  bool can_read_again = false;
  job.input = openInput(path, can_read_again);
  if (!job.input) return false;
  job.whole = !can_read_again;
  ByteSource source = fileSource(job.input.get(), !job.whole);
  LoadStatus status = readTgaPrefix(source, job.image);
  if (status == LoadStatus::OK && job.whole) {
    status = readTgaPixels(source, job.image, job.codec, &wholeImageMemory());
  }
  if (finishLoad(path, job.input.get(), status, job.image)) return true;
  job.input.reset();
  return false;
}

namespace {

SaveStatus saveWhole(const char* path, ImageJob& job) {
  job.input.reset();
  makeOpaque(job.image.pixels.data(), job.image.pixels.size);
  return saveImage(path, job.image, job.codec) ? SaveStatus::WRITTEN
                                                : SaveStatus::NOT_WRITTEN;
}

}  // namespace

SaveStatus saveOpaqueImage(const char* path, ImageJob& job) {
  if (job.whole) return saveWhole(path, job);
  InputFile input = std::move(job.input);
  OutputSink target;
  if (!openSink(path, target)) return SaveStatus::NOT_WRITTEN;
  ByteSource source = fileSource(input.get(), true);
  ByteSink sink = byteSink(target);
  RowStreamStatus status =
      writeOpaqueRows(source, job.image, sink, job.rows);
  if (status == RowStreamStatus::OK && std::ferror(input.get())) {
    status = RowStreamStatus::READ_FAILED;
  }
  switch (status) {
    case RowStreamStatus::OK:
      return commitOutput(target.out) ? SaveStatus::WRITTEN
                                      : SaveStatus::NOT_WRITTEN;
    case RowStreamStatus::READ_FAILED:
      abandonOutput(target.out);
      return SaveStatus::NOT_READ;
    case RowStreamStatus::WRITE_FAILED:
      break;
  }
  abandonOutput(target.out);
  return SaveStatus::NOT_WRITTEN;
}
