// Names as Windows lists them, and the command line as it gave it.

#include <windows.h>

#include <algorithm>

#include "system/extended_path.h"
#include "system/file_names.h"

namespace {

// Ignoring case first, as Windows lists names; then exactly, so that the
// order is fixed whatever the file system returns.
bool comesBefore(const std::wstring& a, const std::wstring& b) {
  const int order = CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE);
  return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a < b;
}

}  // namespace

std::vector<std::wstring> matchingNames(const std::string& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  // The extended form for a pattern in a long folder, as for every path.
  HANDLE search = FindFirstFileExW(systemPath(pattern.c_str()).c_str(),
                                   FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end(), comesBefore);
  return names;
}

std::wstring commandLine() { return GetCommandLineW(); }
