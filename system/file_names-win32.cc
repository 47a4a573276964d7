#include "system/file_names.h"

#include <windows.h>

#include "system/extended_path.h"

namespace {

std::string narrowFromWide(const std::wstring& wide, UINT code_page) {
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(code_page, 0, wide.data(),
                                 static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                      &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring widePath(const char* utf8) {
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &out[0], size);
  out.pop_back();  // the terminating null
  return out;
}

std::string utf8FromWide(const wchar_t* wide) {
  return narrowFromWide(wide, CP_UTF8);
}

std::FILE* openFile(const char* path, const char* mode) {
  return _wfopen(systemPath(path).c_str(), widePath(mode).c_str());
}

bool removeFile(const char* path) {
  return _wremove(systemPath(path).c_str()) == 0;
}

std::string printableName(const char* name) {
  return narrowFromWide(widePath(name), CP_ACP);
}
