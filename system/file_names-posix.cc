#include "system/file_names.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "system/long_path.h"

namespace {

// Opens a path too long for one call for reading, through its folders.
std::FILE* openLongPathForReading(const char* path) {
  PathAt at;
  if (!reachPath(path, 0, at)) return nullptr;
  const int fd = openat(at.folder, at.name.c_str(), O_RDONLY | O_CLOEXEC);
  const int error = errno;
  closeFolder(at);
  std::FILE* file = fd >= 0 ? fdopen(fd, "rb") : nullptr;
  if (!file && fd >= 0) close(fd);
  if (fd < 0) errno = error;
  return file;
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) {
  std::FILE* file = std::fopen(path, mode);
  const bool reading = mode[0] == 'r' && !std::strchr(mode, '+');
  if (file || errno != ENAMETOOLONG || !reading) return file;
  return openLongPathForReading(path);
}

bool removeFile(const char* path) { return std::remove(path) == 0; }
