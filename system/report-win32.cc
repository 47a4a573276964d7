#include "system/report.h"

#include <cstdio>

#include "system/file_names.h"

// Lines go out in the system's code page, as the narrow command line gave
// names before, with "?" for what it cannot show.
bool writeMessageLine(const std::string& line) {
  const std::string printable = printableName(line.c_str());
  return std::fwrite(printable.data(), 1, printable.size(), stdout) ==
             printable.size() &&
         std::fflush(stdout) == 0;
}

// The C runtime gives a program started without standard handles streams
// that write nowhere, so nothing can take their place by accident.
void holdStandardStreams() {}
