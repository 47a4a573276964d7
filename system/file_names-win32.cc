#include "system/file_names.h"

#include <io.h>
#include <windows.h>

#include "system/extended_path.h"

namespace {

// Best fit would print a look-alike for a character the code page lacks
// (Omega as O, dotted I as I), and a script reading the lines would act on
// another file; "?" is in no file name. UTF-8 holds every character and
// takes neither the flag nor a default character.
std::string narrowFromWide(const std::wstring& wide, UINT code_page) {
  if (wide.empty()) return std::string();
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unshown = utf8 ? nullptr : "?";
  int size = WideCharToMultiByte(code_page, flags, wide.data(),
                                 static_cast<int>(wide.size()), nullptr, 0,
                                 unshown, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(),
                      static_cast<int>(wide.size()), &out[0], size, unshown,
                      nullptr);
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

// A reserved name (CON, NUL, AUX, COM1 ... with any extension, in any
// folder) opens a device, and reading a serial port or a console can wait
// for good, holding up the batch; opening a printer port may already reach
// the printer. So such a name is refused at once as unreadable, without
// being opened. A real file with such a name is a disk file, reached
// through the \\?\ form, which names no device. Of whatever else opens,
// only a file on a disk is read (not \\.\ devices or pipes).
std::FILE* openFile(const char* path, const char* mode) {
  const bool reading = mode[0] == 'r';
  if (reading && namesReservedDevice(widePath(path))) {
    errno = EACCES;
    return nullptr;
  }
  std::FILE* file = _wfopen(systemPath(path).c_str(), widePath(mode).c_str());
  if (!file || !reading) return file;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (GetFileType(handle) == FILE_TYPE_DISK) return file;
  std::fclose(file);
  errno = EACCES;
  return nullptr;
}

bool removeFile(const char* path) {
  return _wremove(systemPath(path).c_str()) == 0;
}

std::string nameInCodePage(const char* name, unsigned code_page) {
  return narrowFromWide(widePath(name), code_page);
}

// The system's code page by number: it is UTF-8 where Windows is set to use
// UTF-8 throughout, which CP_ACP would hide from narrowFromWide.
std::string printableName(const char* name) {
  return nameInCodePage(name, GetACP());
}
