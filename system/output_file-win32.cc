// Outputs on Windows: a named temporary file beside the target, moved over
// it once complete.

#include "system/output_file.h"

#include "system/extended_path.h"
#include "system/file_names.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

OutputStart startOutput(const char* path, OutputFile& out) {
  out.target = path;
  return OutputStart::NEEDS_TEMP_NAME;
}

bool createExclusive(OutputFile& out) {
  int fd = _wopen(systemPath(out.temp_path.c_str()).c_str(),
                  _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                  _S_IREAD | _S_IWRITE);
  if (fd < 0) return false;
  out.file = _fdopen(fd, "wb");
  if (out.file) return true;
  _close(fd);
  removeFile(out.temp_path.c_str());
  errno = EIO;
  return false;
}

bool finishOutput(OutputFile&) { return true; }

bool replaceTarget(const OutputFile& out) {
  return MoveFileExW(systemPath(out.temp_path.c_str()).c_str(),
                     systemPath(out.target.c_str()).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeOutputName(const OutputFile&, const std::string& name) {
  removeFile(name.c_str());
}

void releaseOutput(OutputFile&) {}

unsigned long processId() { return static_cast<unsigned long>(_getpid()); }
