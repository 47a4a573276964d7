// The tool's path from input file to output file: open the input and read
// its header, stream its pixels, opaque, into a temporary output, and commit
// that over the output name. Every input, piped ones included, goes this
// way in a few MiB, read once from its first byte to its last.

#ifndef BRISEL_IMAGEFILE_OPAQUE_FILE_H
#define BRISEL_IMAGEFILE_OPAQUE_FILE_H

#include <cstdio>
#include <memory>

#include "imagecodec/tga_image.h"
#include "system/input_file.h"
#include "system/report.h"

// Closes an input on every way out, a bad_alloc included: a batch of
// thousands of files must not run out of descriptors.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// One input at a time, and the buffers kept from one to the next.
struct ImageJob {
  InputFile input;
  FileStamp stamp;  // the input's, when it was opened
  TgaImage image;
  SaveBuffers buffers;
};

// Opens the image at `path` and reads what comes before its pixels. False
// with `refusal` set to NOT_FOUND, CANNOT_BE_READ, NOT_TGA or NOT_32BIT.
bool openImage(const char* path, ImageJob& job, Message& refusal);

// Writes the opened image to `path` with every alpha byte 0xFF, so that the
// path holds either its old content or the whole new file, never a part,
// and closes the input. Returns WRITTEN, CANNOT_BE_READ (the input failed
// or changed part way) or CANNOT_BE_WRITTEN.
Message saveOpaqueImage(const char* path, ImageJob& job);

#endif  // BRISEL_IMAGEFILE_OPAQUE_FILE_H
