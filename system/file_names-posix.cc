#include "system/file_names.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/long_path.h"

namespace {

// How long a named pipe is given to show a writer (awaitWriter).
constexpr int WRITER_WAIT_MS = 100;

// Whether the named pipe open at `fd` (opened without blocking) has a
// writer, and so is read like a file. A blocking open would wait for one
// forever; here no writer gives false with errno ENXIO at once.
//
// A writer that was waiting in its own open for a reader gets through just
// after this open, so it is given a moment, ended early by its data or its
// close. A writer still silent after that is told from none by a read:
// "try again" rather than the end of the file. A byte that read gets is
// handed back in `first`.
bool awaitWriter(int fd, int& first) {
  first = EOF;
  pollfd events{fd, POLLIN, 0};
  if (poll(&events, 1, WRITER_WAIT_MS) > 0) return true;
  unsigned char byte;
  const ssize_t n = read(fd, &byte, 1);
  if (n == 1) first = byte;
  if (n == 0) errno = ENXIO;
  return n == 1 || (n < 0 && errno == EAGAIN);
}

bool blockAgain(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

// Opens `name` in `folder` for reading. The open never blocks, so that a
// named pipe is checked for a writer first; reads from anything but a
// regular file, which takes no notice of O_NONBLOCK, then block again.
std::FILE* openForReading(int folder, const char* name) {
  const int fd =
      openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  int first = EOF;
  const bool ready =
      fstat(fd, &st) == 0 &&
      (S_ISREG(st.st_mode) ||
       ((!S_ISFIFO(st.st_mode) || awaitWriter(fd, first)) && blockAgain(fd)));
  std::FILE* file = ready ? fdopen(fd, "rb") : nullptr;
  if (!file) {
    const int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  if (first != EOF) ungetc(first, file);
  return file;
}

// Opens a path too long for one call for reading, through its folders.
std::FILE* openLongPathForReading(const char* path) {
  PathAt at;
  if (!reachPath(path, 0, at)) return nullptr;
  std::FILE* file = openForReading(at.folder, at.name.c_str());
  const int error = errno;
  closeFolder(at);
  errno = error;
  return file;
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) {
  const bool reading = mode[0] == 'r' && !std::strchr(mode, '+');
  if (!reading) return std::fopen(path, mode);
  std::FILE* file = openForReading(AT_FDCWD, path);
  if (file || errno != ENAMETOOLONG) return file;
  return openLongPathForReading(path);
}

bool removeFile(const char* path) { return std::remove(path) == 0; }
