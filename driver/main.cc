// brisel: makes every pixel of 32-bit TGA images fully opaque.
//
// Each argument is handled on its own, one after another: load, set alpha to
// 255, write "<name>_brisel.tga" beside it, report one line. A file that is
// refused or cannot be written only costs its own line; the exit status is 0
// once all arguments are done, whatever happened to each, unless the lines
// themselves could not be written: then the status is 1, after one line on
// standard error, since a script has no other way to learn what happened.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/output_name.h"
#include "system/report.h"
#include "imagefile/opaque_file.h"

namespace {

// `job` carries memory over from the files before, so that a batch of small
// files does not allocate and fault in its buffers each time.
void processFile(const char* path, ImageJob& job) {
  if (!openImage(path, job)) return;
  std::string output;
  if (!outputName(path, output)) {
    job.input.reset();
    reportLine("%s has too short a name\n", path);
    return;
  }
  switch (saveOpaqueImage(output.c_str(), job)) {
    case SaveStatus::WRITTEN:
      break;
    case SaveStatus::NOT_READ:
      reportLine("%s cannot be read\n", path);
      return;
    case SaveStatus::NOT_WRITTEN:
      reportLine("%s cannot be written\n", output.c_str());
      return;
  }
  if (job.image.truncated) reportLine("%s is truncated\n", path);
  reportLine("written %s\n", output.c_str());
}

int run(int argc, char** argv) {
  holdStandardStreams();
  if (argc <= 1) {
    // As any message line: a reader gone ends the run by SIGPIPE.
    reportLine("%s", "usage: brisel filename\n");
    return -1;
  }
  ImageJob job;
  for (int i = 1; i < argc; ++i) {
    try {
      processFile(argv[i], job);
    } catch (const std::bad_alloc&) {
      // Only a whole image's pixels are allocated without a throw; smaller
      // buffers failing means memory is exhausted just the same.
      job.input.reset();
      reportLine("%s is too large\n", argv[i]);
    }
  }
  if (const int error = reportWriteError()) {
    std::fprintf(stderr, "brisel: messages could not be written: %s\n",
                 std::strerror(error));
    return 1;
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
// The wide command line holds names in any script; the narrow one only those
// that fit the system's code page. brisel splits it itself, with wildcards
// expanded, and the names go on as UTF-8.
int wmain(int, wchar_t**) {
  std::vector<std::string> names = programArguments();
  std::vector<char*> argv;
  for (std::string& name : names) argv.push_back(&name[0]);
  argv.push_back(nullptr);
  return run(static_cast<int>(names.size()), argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
