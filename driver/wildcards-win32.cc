// Windows shells hand `*` and `?` to the program as typed, so brisel expands
// them itself, by the same rules in every build: the C runtimes that could
// do it each have their own (Wine's drops the drive of a drive-relative
// pattern, msvcrt cannot reach a folder longer than 260 characters). Names
// cannot hold `*` or `?` on Windows, so no name that could be opened changes
// meaning.

#include "driver/command_line.h"

#include "system/extended_path.h"
#include "system/file_names.h"

namespace {

bool holdsWildcard(const std::string& text) {
  return text.find_first_of("*?") != std::string::npos;
}

// A match behind the folder part as typed; but where that plain path would
// reach another file or none (t.tga. would open t.tga), in the extended
// form of the folder's full path, which reaches the very file listed.
std::string matchPath(const std::string& folder, const std::wstring& name) {
  if (plainPathAltersName(name)) {
    std::wstring full =
        fullPath(folder.empty() ? L"." : widePath(folder.c_str()));
    if (!full.empty()) {
      if (full.back() != L'\\' && full.back() != L'/') full += L'\\';
      return utf8FromWide(extendedForm(full + name).c_str());
    }
  }
  return folder + utf8FromWide(name.c_str());
}

// The names `pattern` matches in name order, each behind the folder part
// exactly as typed (a drive-relative "C:o*.tga" stays in drive C's current
// folder), unless only the extended form reaches it (matchPath). Only the last component is a pattern: one with wildcards in a
// folder, or one that matches nothing, stays as given and so gets "not
// found". Folders match as well; "." and ".." never do.
void expandPattern(const std::string& pattern, std::vector<std::string>& out) {
  const size_t name_start = baseNameStart(pattern);
  const std::string folder = pattern.substr(0, name_start);
  // The "?" of the extended prefix \\?\ is no wildcard.
  const size_t prefix = folder.compare(0, 4, "\\\\?\\") == 0 ? 4 : 0;
  std::vector<std::wstring> names;
  if (holdsWildcard(pattern.substr(name_start)) &&
      !holdsWildcard(folder.substr(prefix))) {
    names = matchingNames(pattern);
  }
  if (names.empty()) out.push_back(pattern);
  for (const std::wstring& name : names) out.push_back(matchPath(folder, name));
}

}  // namespace

std::vector<std::string> programArguments() {
  std::vector<std::string> arguments;
  for (const CommandArgument& argument : splitCommandLine(commandLine())) {
    const std::string text = utf8FromWide(argument.text.c_str());
    if (argument.pattern && !arguments.empty()) {
      expandPattern(text, arguments);
    } else {
      arguments.push_back(text);
    }
  }
  return arguments;
}
