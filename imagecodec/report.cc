#include "imagecodec/report.h"

#include "imagecodec/file_names.h"

#include <cerrno>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

int first_write_error = 0;

void rememberWriteError(int error) {
  if (error == EPIPE || first_write_error != 0) return;
  first_write_error = error != 0 ? error : EIO;
}

}  // namespace

void reportLine(const char* format, const char* name_bytes) {
  const std::string printable = printableName(name_bytes);
  const char* name = printable.c_str();
  int length = std::snprintf(nullptr, 0, format, name);
  if (length < 0) return;
  std::string line(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&line[0], line.size(), format, name);
  line.pop_back();
  errno = 0;
  const bool written =
      std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
      std::fflush(stdout) == 0;
  if (!written) rememberWriteError(errno);
}

int reportWriteError() { return first_write_error; }

void holdStandardStreams() {
#ifndef _WIN32
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) rememberWriteError(EBADF);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
#endif
}
