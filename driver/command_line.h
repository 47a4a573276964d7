#ifndef BRISEL_DRIVER_COMMAND_LINE_H
#define BRISEL_DRIVER_COMMAND_LINE_H

#include <string>
#include <vector>

// Windows hands a program its command line as one string; each program
// splits it. brisel splits it itself, by the rules of Microsoft's C runtime,
// so that it also learns what the C runtime forgets: which `*` and `?` were
// typed inside quotes. By the common Windows convention a quoted wildcard is
// taken as written and never expanded.
struct CommandArgument {
  std::wstring text;
  // Holds `*` or `?`, none of them inside quotes: a pattern to expand.
  bool pattern = false;
};

// The rules: arguments are parted by spaces and tabs outside quotes. A `"`
// starts or ends a quoted part, in which spaces are kept; inside one, `""`
// is a `"`. Backslashes are taken as written, except before a `"`: 2n of
// them give n and the quote still quotes, 2n+1 give n and a plain `"`. The
// first argument, the program, ends at the first space or tab outside
// quotes; each quote in it toggles, and its backslashes are taken as written.
std::vector<CommandArgument> splitCommandLine(const std::wstring& line);

#ifdef _WIN32
// The program's own command line, split, with each pattern replaced by the
// names it matches (wildcards-win32.cc); all as UTF-8.
std::vector<std::string> programArguments();
#endif

#endif  // BRISEL_DRIVER_COMMAND_LINE_H
