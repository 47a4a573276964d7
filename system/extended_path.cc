#include "system/extended_path.h"

#include <cwchar>

namespace {

// Characters in the longest path the plain calls take, without the null.
constexpr size_t MAX_PLAIN_PATH = 259;

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

wchar_t lowerAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The port numbers Windows' own path parsing takes: the superscripts too
// (COM\u00B9 is a serial port), but no 0 or other digit (com0.tga is a file).
bool isPortDigit(wchar_t c) {
  return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' ||
         c == L'\u00B3';
}

// The last name in `path`, after any folder or drive ("C:nul").
size_t lastNameStart(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring::npos) return separator + 1;
  return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}

}  // namespace

bool namesReservedDevice(const std::wstring& path) {
  if (startsWith(path, L"\\\\?\\")) return false;
  const size_t start = lastNameStart(path);
  const size_t end = path.find_first_of(L".:", start);
  std::wstring stem = path.substr(start, end == std::wstring::npos
                                             ? std::wstring::npos
                                             : end - start);
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = lowerAscii(c);
  if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul") {
    return true;
  }
  const bool port = startsWith(stem, L"com") || startsWith(stem, L"lpt");
  return port && stem.size() == 4 && isPortDigit(stem[3]);
}

std::wstring extendedForm(const std::wstring& full) {
  std::wstring path = full;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) {
    return path;
  }
  if (startsWith(path, L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

std::wstring extendedPath(const std::wstring& given, const std::wstring& full) {
  if (full.size() <= MAX_PLAIN_PATH) return given;
  const std::wstring extended = extendedForm(full);
  // The form adds a prefix, unless the path has one already: then it is
  // taken as given.
  return extended.size() == full.size() ? given : extended;
}

bool plainPathAltersName(const std::wstring& name) {
  const bool trailing =
      !name.empty() && (name.back() == L'.' || name.back() == L' ');
  return trailing || namesReservedDevice(name);
}
