#ifndef BRISEL_SYSTEM_EXTENDED_PATH_H
#define BRISEL_SYSTEM_EXTENDED_PATH_H

#include <string>

// A Windows path that takes more than MAX_PATH (260) characters with its
// terminating null opens only in the extended form, unless the program's
// manifest says it takes long paths and the system allows them (Windows 10
// 1607 and later, with long paths enabled):
//
//   \\?\C:\folder\name.tga            for a drive path
//   \\?\UNC\server\share\name.tga     for \\server\share\name.tga
//
// The system takes such a name exactly as written: it must be absolute, use
// `\` alone, and hold no `.` or `..`. So the path is first made absolute and
// cleaned up by GetFullPathNameW, which is what the plain calls would do.

// Returns the name for the wide file calls, given the path as the program
// got it and `full`, what GetFullPathNameW makes of it. The path stays as
// given when `full` fits in MAX_PATH, is in extended form already or names
// a device (\\.\); otherwise it becomes the extended form of `full`.
std::wstring extendedPath(const std::wstring& given, const std::wstring& full);
// `full` in the extended form, with `\` alone; one in that form already, or
// a device (\\.\), stays as it is.
std::wstring extendedForm(const std::wstring& full);

// Whether Windows takes `path` for a reserved device rather than a file:
// a last name of CON, PRN, AUX, NUL, or COM or LPT with one digit 1 to 9 or
// a superscript 1, 2 or 3 (U+00B9, U+00B2, U+00B3), in any case and any
// folder, followed by anything from a dot or a colon on (COM1.tga, NUL:,
// con.x.y) or by spaces (aux .tga). Only the extended form \\?\ names the
// file of such a name instead.
bool namesReservedDevice(const std::wstring& path);
// Whether a plain path ending in the file name `name` (as a folder listing
// gives it) reaches another file or none: Windows drops a trailing dot or
// space, and takes a reserved name for its device. The extended form
// reaches the file so named.
bool plainPathAltersName(const std::wstring& name);

#ifdef _WIN32
// The UTF-16 name that the wide calls which open, create, rename or remove a
// file take for the UTF-8 `path`.
std::wstring systemPath(const char* path);
// What GetFullPathNameW makes of `path`: absolute, `.` and `..` resolved;
// empty when it fails.
std::wstring fullPath(const std::wstring& path);
#endif

#endif  // BRISEL_SYSTEM_EXTENDED_PATH_H
