#ifndef BRISEL_SYSTEM_LONG_PATH_H
#define BRISEL_SYSTEM_LONG_PATH_H

// POSIX systems refuse a path of PATH_MAX bytes or more (4096 on Linux) in a
// single call with ENAMETOOLONG, although the file system holds files at
// any depth. Such a path is reached folder by folder instead: its folders
// are opened in steps shorter than PATH_MAX, each relative to the one
// before, and the file is then named by the last folder's descriptor and
// its own name through the *at calls (openat, linkat, renameat, ...).

#include <cstddef>
#include <string>

// A path as the *at calls take it: a folder descriptor and a name in it.
struct PathAt {
  int folder;        // AT_FDCWD, or a descriptor that closeFolder closes
  std::string name;  // relative to `folder`; the whole path with AT_FDCWD
};

// Splits `path` for the *at calls. A path that fits one call, with `extra`
// bytes to spare for names made from it, stays whole beside AT_FDCWD.
// False with errno set when a folder on the way cannot be opened.
bool reachPath(const std::string& path, size_t extra, PathAt& at);
void closeFolder(PathAt& at);

#endif  // BRISEL_SYSTEM_LONG_PATH_H
