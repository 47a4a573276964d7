#include "system/report.h"

#include <cerrno>
#include <cstdio>

#include <windows.h>

#include "system/file_names.h"

namespace {

// A console shows its own code page (the OEM one), not the one the narrow
// lines are in, and no code page holds every script. So a line for a
// console goes to it as UTF-16, and its names show exactly as typed.
bool writeToConsole(HANDLE console, const std::string& line) {
  const std::wstring wide = widePath(line.c_str());
  // Older consoles refuse one very long write; never split a surrogate pair.
  constexpr size_t PIECE = 8192;
  for (size_t start = 0; start < wide.size();) {
    size_t size = wide.size() - start;
    if (size > PIECE) {
      size = IS_HIGH_SURROGATE(wide[start + PIECE - 1]) ? PIECE - 1 : PIECE;
    }
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + start, static_cast<DWORD>(size),
                       &written, nullptr) ||
        written != size) {
      errno = EIO;
      return false;
    }
    start += size;
  }
  return true;
}

}  // namespace

// Redirected to a file or a pipe, lines go out in the system's ANSI code
// page, as the narrow command line gave names before, with "?" for what it
// cannot show: what other console programs write there.
bool writeMessageLine(const std::string& line) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) return writeToConsole(out, line);
  const std::string printable = printableName(line.c_str());
  return std::fwrite(printable.data(), 1, printable.size(), stdout) ==
             printable.size() &&
         std::fflush(stdout) == 0;
}

// The C runtime gives a program started without standard handles streams
// that write nowhere, so nothing can take their place by accident.
void holdStandardStreams() {}
