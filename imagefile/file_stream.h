// Files as the codec's byte sources and sinks, and the lines for inputs that
// cannot be used: what loading whole images and streaming rows share.

#ifndef BRISEL_IMAGEFILE_FILE_STREAM_H
#define BRISEL_IMAGEFILE_FILE_STREAM_H

#include <cstdio>
#include <memory>
#include <string>

#include "imagecodec/tga_stream.h"
#include "system/output_file.h"

// Closes an input on every way out, a bad_alloc included: a batch of
// thousands of files must not run out of descriptors.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading; on failure prints "%s not found" or "%s cannot
// be read" and returns null. `can_read_again`: canReadAgain.
InputFile openInput(const char* path, bool& can_read_again);

// Reads `file`; rewinds it too when `can_rewind`.
ByteSource fileSource(std::FILE* file, bool can_rewind);

// What a whole image is measured against before it is loaded
// (system/memory_limit.h).
const MemoryHooks& wholeImageMemory();
// The last step of loading: prints the line for an input that was opened
// but is not used, and empties `image`; false then. A failed read comes
// first: to the codec it looks like the end of the file, and must not pass
// for a short file, whose missing pixels would be written as zero.
bool finishLoad(const char* path, std::FILE* file, LoadStatus status,
                TgaImage& image);

// An output being written, and whether its pages take memory
// (isMemoryBacked): there an output too large for what is left fails,
// rather than get the batch killed part way.
struct OutputSink {
  OutputFile out;
  std::string path;
  bool takes_memory = false;
};

// Opens the output at `path`; false when it cannot be created.
bool openSink(const char* path, OutputSink& sink);
// The sink for the codec. It can start again, from an empty file, unless
// the output is a device or pipe written in place.
ByteSink byteSink(OutputSink& sink);

#endif  // BRISEL_IMAGEFILE_FILE_STREAM_H
