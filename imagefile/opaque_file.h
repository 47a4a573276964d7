// The tool's own path from input file to output file: images are streamed a
// block of rows at a time, so that memory depends on the width of an image
// and not its height. An input that cannot be read twice (a pipe) is loaded
// whole instead, since an output may have to start over; only that path can
// find an image too large.

#ifndef BRISEL_IMAGEFILE_OPAQUE_FILE_H
#define BRISEL_IMAGEFILE_OPAQUE_FILE_H

#include <cstdio>

#include "imagecodec/row_stream.h"
#include "imagecodec/tga_image.h"
#include "imagefile/file_stream.h"

// One input at a time, and the memory kept from one to the next, so that a
// batch of files does not allocate and fault in its buffers each time.
struct ImageJob {
  InputFile input;
  TgaImage image;  // the header, ID field and colour map; pixels when whole
  bool whole = false;
  CodecBuffers codec;
  RowStreamBuffers rows;
};

// Opens the image at `path` and reads its header, or, for an input that
// cannot be read twice, all of it. On failure prints one of the lines of
// loadImage and returns false.
bool openImage(const char* path, ImageJob& job);

enum class SaveStatus { WRITTEN, NOT_READ, NOT_WRITTEN };
// Writes the opened image to `path` with every alpha byte 0xFF, so that the
// path holds either its old content or the whole new file, never a part.
// Closes the input. NOT_READ: reading the input failed part way.
SaveStatus saveOpaqueImage(const char* path, ImageJob& job);

#endif  // BRISEL_IMAGEFILE_OPAQUE_FILE_H
