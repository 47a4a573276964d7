#include "system/extended_path.h"

#include <cwchar>

namespace {

// Characters in the longest path the plain calls take, without the null.
constexpr size_t MAX_PLAIN_PATH = 259;

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

std::wstring extendedPath(const std::wstring& given, const std::wstring& full) {
  if (full.size() <= MAX_PLAIN_PATH) return given;
  std::wstring path = full;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) {
    return given;
  }
  if (startsWith(path, L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}
