#include "system/report.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

int first_write_error = 0;

}  // namespace

void rememberWriteError(int error) {
  if (first_write_error != 0) return;
  first_write_error = error != 0 ? error : EIO;
}

void reportLine(const char* format, const char* name) {
  int length = std::snprintf(nullptr, 0, format, name);
  if (length < 0) return;
  std::string line(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&line[0], line.size(), format, name);
  line.pop_back();
  errno = 0;
  if (!writeMessageLine(line)) rememberWriteError(errno);
}

int reportWriteError() { return first_write_error; }
