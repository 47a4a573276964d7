#include "system/extended_path.h"

#include <windows.h>

#include "system/file_names.h"

std::wstring fullPath(const std::wstring& path) {
  // The first call gives the size the full path needs, null included.
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return std::wstring();
  full.resize(length);
  return full;
}

std::wstring systemPath(const char* path) {
  const std::wstring given = widePath(path);
  const std::wstring full = fullPath(given);
  return full.empty() ? given : extendedPath(given, full);
}
