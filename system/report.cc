#include "system/report.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

int first_write_error = 0;

// Each with a single %s for the name, but the usage line, which has none.
// The texts are the tool's interface: scripts match them.
const char* const FORMATS[] = {
    "usage: brisel filename\n",
    "%s not found\n",
    "%s cannot be read\n",
    "%s is not tga file\n",
    "%s is not 32bit tga file\n",
    "%s is too large\n",
    "%s has too short a name\n",
    "%s is truncated\n",
    "%s cannot be written\n",
    "written %s\n",
};
static_assert(sizeof FORMATS / sizeof FORMATS[0] ==
                  static_cast<size_t>(Message::WRITTEN) + 1,
              "one text for each message");

}  // namespace

void rememberWriteError(int error) {
  if (first_write_error != 0) return;
  first_write_error = error != 0 ? error : EIO;
}

void reportLine(Message message, const char* name) {
  const char* const format = FORMATS[static_cast<size_t>(message)];
  int length = std::snprintf(nullptr, 0, format, name);
  if (length < 0) return;
  std::string line(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&line[0], line.size(), format, name);
  line.pop_back();
  errno = 0;
  if (!writeMessageLine(line)) rememberWriteError(errno);
}

int reportWriteError() { return first_write_error; }
