// Outputs on Windows: a named temporary file beside the target, moved over
// it once complete.

#include "system/output_file.h"

#include "system/extended_path.h"
#include "system/file_names.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

bool openTemp(OutputFile& out) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    // Exclusive creation: never reuse a file that happens to have this name.
    int fd = _wopen(systemPath(out.temp_path.c_str()).c_str(),
                    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      out.file = _fdopen(fd, "wb");
      if (out.file) return true;
      _close(fd);
      removeFile(out.temp_path.c_str());
      break;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool replaceTarget(const OutputFile& out) {
  return MoveFileExW(systemPath(out.temp_path.c_str()).c_str(),
                     systemPath(out.target.c_str()).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

bool openOutput(const char* path, OutputFile& out) {
  out = OutputFile();
  out.target = path;
  return openTemp(out);
}

bool commitOutput(OutputFile& out) {
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
  ok = std::fclose(out.file) == 0 && ok;
  out.file = nullptr;
  if (!ok && out.at_target) removeFile(out.target.c_str());
  if (ok && !out.in_place && !out.at_target) ok = replaceTarget(out);
  if (!ok && !out.temp_path.empty()) removeFile(out.temp_path.c_str());
  out.temp_path.clear();
  return ok;
}

void abandonOutput(OutputFile& out) {
  if (out.file) std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp_path.empty()) removeFile(out.temp_path.c_str());
  out.temp_path.clear();
}
