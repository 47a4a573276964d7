#include "system/report.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

bool writeMessageLine(const std::string& line) {
  return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
         std::fflush(stdout) == 0;
}

void holdStandardStreams() {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) rememberWriteError(EBADF);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
}
