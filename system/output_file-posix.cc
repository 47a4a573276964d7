// Outputs on POSIX systems: an unnamed (Linux O_TMPFILE) or named temporary
// file beside the target, renamed over it once complete; devices and pipes
// written in place.

#include "system/output_file.h"

#include "system/long_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// An unnamed file is named through /proc/self/fd, so it is only of use
// where /proc is mounted; chroots and small sandboxes may lack it.
bool canNameUnnamedFiles() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Opens an unnamed file in the target's folder. False with errno
// EOPNOTSUPP when this system or file system has no such files, so that the
// caller falls back to a named temporary file.
bool openUnnamed(OutputFile& out) {
#ifdef O_TMPFILE
  if (!canNameUnnamedFiles()) {
    errno = EOPNOTSUPP;
    return false;
  }
  int fd = openat(out.folder, folderOf(out.target).c_str(),
                  O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  out.file = fdopen(fd, "wb");
  if (!out.file) {
    close(fd);
    return false;
  }
  out.unnamed = true;
  return true;
#else
  (void)out;
  errno = EOPNOTSUPP;
  return false;
#endif
}

bool openNamed(OutputFile& out) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    int fd = openat(out.folder, out.temp_path.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out.file = fdopen(fd, "wb");
      if (out.file) return true;
      close(fd);
      unlinkat(out.folder, out.temp_path.c_str(), 0);
      break;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool openTemp(OutputFile& out) {
  if (openUnnamed(out)) return true;
  // File systems without O_TMPFILE refuse it with EOPNOTSUPP (or EISDIR on
  // old kernels); fall back to a named temporary file.
  if (errno == EACCES || errno == EROFS || errno == ENOENT ||
      errno == ENOTDIR || errno == ENOSPC || errno == EDQUOT) {
    return false;
  }
  return openNamed(out);
}

// Gives the new file the permission bits of the regular file it is about to
// replace, and its owner and group where the tool has the right to set them
// (root, or a file of the user's own group), so that a private or read-only
// output stays so. Failing to set the bits fails the output rather than
// leave a private file readable; an owner that cannot be kept is no danger.
bool takeOldPermissions(const OutputFile& out) {
  struct stat old;
  if (fstatat(out.folder, out.target.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(old.st_mode)) {
    return true;  // nothing to replace, or a link replaced as a new file
  }
  const int fd = fileno(out.file);
  struct stat now;
  if (fstat(fd, &now) != 0) return false;
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    // Before fchmod: a change of owner clears set-user-ID bits.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// Gives the finished unnamed file its name: straight at the target when no
// file is there yet, so no moment exists in which a kill leaves a stray file;
// otherwise a temporary name beside it, since linkat cannot replace a file and
// rename then moves it over the target.
bool nameUnnamed(OutputFile& out) {
  char fd_path[64];
  std::snprintf(fd_path, sizeof fd_path, "/proc/self/fd/%d", fileno(out.file));
  if (linkat(AT_FDCWD, fd_path, out.folder, out.target.c_str(),
             AT_SYMLINK_FOLLOW) == 0) {
    out.at_target = true;
    return true;
  }
  if (errno != EEXIST || !takeOldPermissions(out)) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    if (linkat(AT_FDCWD, fd_path, out.folder, out.temp_path.c_str(),
               AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool replaceTarget(const OutputFile& out) {
  return renameat(out.folder, out.temp_path.c_str(), out.folder,
                  out.target.c_str()) == 0;
}

void removeName(const OutputFile& out, const std::string& name) {
  unlinkat(out.folder, name.c_str(), 0);
}

void closeOutputFolder(OutputFile& out) {
  PathAt at{out.folder, std::string()};
  closeFolder(at);
  out.folder = -1;
}

bool isOtherThanRegularFile(const OutputFile& out) {
  struct stat st;
  return fstatat(out.folder, out.target.c_str(), &st, 0) == 0 &&
         !S_ISREG(st.st_mode);
}

// Opens an existing device, pipe or link to one for writing in place. The
// name is opened without creating or truncating anything and checked again
// through the open descriptor, so that a link swapped for one to a regular
// file in the meantime is never written through. Returns false with `gone`
// set when the name no longer leads to such a file.
//
// The open does not block: a pipe that nothing reads would otherwise hold
// the batch forever, where now it fails at once (ENXIO). Once open, writes
// block again, so a pipe with a slow reader gets the whole file.
bool openInPlace(OutputFile& out, bool& gone) {
  gone = false;
  int fd = openat(out.folder, out.target.c_str(),
                  O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    gone = errno == ENOENT;
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISREG(st.st_mode)) {
    close(fd);
    gone = true;
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    close(fd);
    return false;
  }
  out.file = fdopen(fd, "wb");
  if (!out.file) close(fd);
  return out.file != nullptr;
}

}  // namespace

// Opens the output as its folder and name in it: for a path too long for
// one system call, the folder is reached through descriptors, and every
// call below names the target and its temporary file relative to it.
bool openOutput(const char* path, OutputFile& out) {
  out = OutputFile();
  PathAt at;
  // Room for the temporary name, which is longer than the target's.
  if (!reachPath(path, 64, at)) return false;
  out.folder = at.folder;
  out.target = at.name;
  if (isOtherThanRegularFile(out)) {
    bool gone;
    if (openInPlace(out, gone)) {
      out.in_place = true;
      return true;
    }
    if (!gone) {
      closeOutputFolder(out);
      return false;
    }
  }
  if (openTemp(out)) return true;
  closeOutputFolder(out);
  return false;
}

bool commitOutput(OutputFile& out) {
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
  if (ok && !out.in_place && !out.unnamed) ok = takeOldPermissions(out);
  if (ok && out.unnamed) ok = nameUnnamed(out);
  ok = std::fclose(out.file) == 0 && ok;
  out.file = nullptr;
  if (!ok && out.at_target) removeName(out, out.target);
  if (ok && !out.in_place && !out.at_target) ok = replaceTarget(out);
  if (!ok && !out.temp_path.empty()) removeName(out, out.temp_path);
  out.temp_path.clear();
  closeOutputFolder(out);
  return ok;
}

void abandonOutput(OutputFile& out) {
  if (out.file) std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp_path.empty()) removeName(out, out.temp_path);
  out.temp_path.clear();
  closeOutputFolder(out);
}
