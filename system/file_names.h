#ifndef BRISEL_SYSTEM_FILE_NAMES_H
#define BRISEL_SYSTEM_FILE_NAMES_H

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

// Paths inside the program are bytes as the command line gave them. On
// Windows those bytes are UTF-8, made from the wide command line, and are
// turned back into UTF-16 for every call that opens, renames or removes a
// file: the narrow ("ANSI") calls can only name files whose names fit the
// system's code page, so a name in another script would not be found.
// Elsewhere the bytes go to the system as they are.

// Paths too long for one system call are opened for reading folder by
// folder (long_path.h). On POSIX systems a named pipe with nothing writing
// to it fails at once (ENXIO) instead of waiting for a writer. On Windows
// only a file on a disk is opened for reading: a device, such as COM1.tga
// names, fails with EACCES.
std::FILE* openFile(const char* path, const char* mode);
// True when openFile failed with `error` because the name leads nowhere: no
// such file, a folder on the way missing or not a folder, or a name longer
// than the file system allows (ENAMETOOLONG: paths too long for one call
// are reached folder by folder, so only a name no file can have is left).
// The Windows C library reports its "file not found" and "path not found"
// as ENOENT too, and a name that no Windows file can have (with `*` or `?`,
// as a wildcard that matched nothing is left) as EINVAL.
inline bool isMissingFileError(int error) {
#ifdef _WIN32
  if (error == EINVAL) return true;
#endif
  return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG;
}
bool removeFile(const char* path);

// True for the bytes that continue a UTF-8 character rather than start one:
// where a name may be cut without cutting into a character.
inline bool continuesUtf8Character(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Where the last component of `path` starts: after the last "/", and on
// Windows also after a backslash or a drive's ":".
inline size_t baseNameStart(const std::string& path) {
#ifdef _WIN32
  const size_t sep = path.find_last_of("/\\:");
#else
  const size_t sep = path.find_last_of('/');
#endif
  return sep == std::string::npos ? 0 : sep + 1;
}

#ifdef _WIN32
// The names of the files and folders that the last component of `pattern`
// (with `*` and `?`) matches in its folder, in name order, ignoring case
// first; "." and ".." never match (find_files-win32.cc).
std::vector<std::wstring> matchingNames(const std::string& pattern);
// The program's command line, unsplit.
std::wstring commandLine();

std::wstring widePath(const char* utf8);
std::string utf8FromWide(const wchar_t* wide);
// `utf8` in the system's code page, with "?" for what it cannot show.
std::string printableName(const char* utf8);
// `utf8` in `code_page`, with "?" for what it cannot show.
std::string nameInCodePage(const char* utf8, unsigned code_page);
#endif

#endif  // BRISEL_SYSTEM_FILE_NAMES_H
