#include "system/extended_path.h"

#include <windows.h>

#include "system/file_names.h"

std::wstring systemPath(const char* path) {
  std::wstring given = widePath(path);
  // The first call gives the size the full path needs, null included.
  DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  DWORD length = GetFullPathNameW(given.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return given;
  full.resize(length);
  return extendedPath(given, full);
}
