#include "system/report.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

// The whole line in one write call, not through stdio, which sends a line
// longer than its buffer in pieces. The system keeps a write of up to
// PIPE_BUF bytes (4096 on Linux) to a pipe in one piece, however many
// processes share it; of a longer one it promises nothing, and what a
// pipe did not take is written after.
bool writeMessageLine(const std::string& line) {
  for (size_t done = 0; done < line.size();) {
    const ssize_t n =
        write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
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
