#include "driver/command_line.h"

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool isWildcard(wchar_t c) { return c == L'*' || c == L'?'; }

// The program's own name: no escapes, as Windows itself reads it.
size_t programEnd(const std::wstring& line, std::wstring& program) {
  size_t i = 0;
  if (!line.empty() && line[0] == L'"') {
    const size_t close = line.find(L'"', 1);
    const size_t end = close == std::wstring::npos ? line.size() : close;
    program = line.substr(1, end - 1);
    return close == std::wstring::npos ? end : end + 1;
  }
  while (i < line.size() && !isBlank(line[i])) ++i;
  program = line.substr(0, i);
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
      if (isWildcard(line[i])) {
        (quoted ? wildcard_inside : wildcard_outside) = true;
      }
      argument.text += line[i];
    }
    argument.pattern = wildcard_outside && !wildcard_inside;
    arguments.push_back(argument);
  }
  return arguments;
}
