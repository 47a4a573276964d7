#include "system/report.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Whether SIGPIPE was at its default when the program started.
bool sigpipe_ends_run = false;

// A pipe whose reader has gone fails a write with EPIPE, and by default
// also kills the writer. That is right for standard output, as for other
// command-line tools, but an output file may be a named pipe too, and its
// reader leaving must only cost that file. So SIGPIPE is ignored from the
// start, whatever writes the images and however; standard output's EPIPE
// then raises it again, with the disposition the program was given.
void ignoreBrokenPipes() {
  struct sigaction old;
  if (sigaction(SIGPIPE, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) {
    return;
  }
  sigpipe_ends_run = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

// Returns only where SIGPIPE was not at its default, or is blocked; then
// the line counts as lost, with errno still EPIPE.
void endByBrokenPipe() {
  if (!sigpipe_ends_run) return;
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
  errno = EPIPE;
}

// A standard output inherited non-blocking (as some event loops leave it)
// takes no more while its pipe is full; the reader is still there, so the
// line waits until it takes some.
bool waitUntilWritable() {
  pollfd events{STDOUT_FILENO, POLLOUT, 0};
  return poll(&events, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

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
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitUntilWritable()) return false;
    } else if (n == 0 || errno != EINTR) {
      if (n < 0 && errno == EPIPE) endByBrokenPipe();
      return false;
    }
  }
  return true;
}

void holdStandardStreams() {
  ignoreBrokenPipes();
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
