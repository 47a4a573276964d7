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

void processFile(const char* path, ImageJob& job) {
  Message refusal;
  if (!openImage(path, job, refusal)) return reportLine(refusal, path);
  std::string output;
  if (!outputName(path, output)) {
    job.input.reset();
    return reportLine(Message::NAME_TOO_SHORT, path);
  }
  const Message result = saveOpaqueImage(output.c_str(), job);
  if (result == Message::CANNOT_BE_READ) return reportLine(result, path);
  if (result == Message::WRITTEN && job.image.truncated) {
    reportLine(Message::TRUNCATED, path);
  }
  reportLine(result, output.c_str());
}

int run(int argc, char** argv) {
  holdStandardStreams();
  if (argc <= 1) {
    // As any message line: a reader gone ends the run by SIGPIPE.
    reportLine(Message::USAGE);
    return -1;
  }
  ImageJob job;  // its buffers serve every file in turn
  for (int i = 1; i < argc; ++i) {
    try {
      processFile(argv[i], job);
    } catch (const std::bad_alloc&) {
      // Only the few MiB of buffers are allocated: memory is exhausted.
      job.input.reset();
      reportLine(Message::TOO_LARGE, argv[i]);
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
