#include "driver/command_line.h"

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool isWildcard(wchar_t c) { return c == L'*' || c == L'?'; }

// Whether line[i] is the "?" of the extended prefix \\?\ that starts the
// argument: no wildcard, quoted or not, so that a quoted extended folder
// ("\\?\C:\sky box"\*.tga) still holds a pattern.
bool isExtendedPrefixMark(const std::wstring& text, const std::wstring& line,
                          size_t i) {
  return text == L"\\\\" && line.compare(i, 2, L"?\\") == 0;
}

// The program's own name, as Microsoft's runtime reads it: up to the first
// blank outside quotes, each quote toggling and dropped, backslashes as
// written (a path cannot escape anything). Quoting only a folder with a
// space, as in "C:\Program Files"\brisel\brisel.exe, keeps one name.
size_t programEnd(const std::wstring& line, std::wstring& program) {
  size_t i = 0;
  for (bool quoted = false; i < line.size() && (quoted || !isBlank(line[i]));
       ++i) {
    if (line[i] == L'"') {
      quoted = !quoted;
    } else {
      program += line[i];
    }
  }
  return i;
}

}  // namespace

std::vector<CommandArgument> splitCommandLine(const std::wstring& line) {
  std::vector<CommandArgument> arguments(1);
  size_t i = programEnd(line, arguments[0].text);
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    CommandArgument argument;
    bool quoted = false;
    bool wildcard_outside = false;
    bool wildcard_inside = false;
    for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == L'\\') ++slashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        argument.text.append(slashes / 2, L'\\');
        if (slashes % 2 == 1) {
          argument.text += L'"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument.text += L'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        continue;
      }
      argument.text.append(slashes, L'\\');
      if (i >= line.size() || (!quoted && isBlank(line[i]))) break;
      const bool counts = !isExtendedPrefixMark(argument.text, line, i);
      if (isWildcard(line[i]) && counts) {
        (quoted ? wildcard_inside : wildcard_outside) = true;
      }
      argument.text += line[i];
    }
    argument.pattern = wildcard_outside && !wildcard_inside;
    arguments.push_back(argument);
  }
  return arguments;
}
