// Outputs on POSIX systems: an unnamed (Linux O_TMPFILE) or named temporary
// file beside the target, renamed over it once complete; for a device or
// pipe, an unnamed file in the system's temporary folder, copied into it
// once complete.

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
                  O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  out.file = fdopen(fd, "w+b");
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

// Whether a failed unnamed file calls for a named one: file systems without
// O_TMPFILE refuse it with EOPNOTSUPP (or EISDIR on old kernels), while these
// errors would only come again.
bool namedFileMightDo(int error) {
  return error != EACCES && error != EROFS && error != ENOENT &&
         error != ENOTDIR && error != ENOSPC && error != EDQUOT;
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

bool linkUnnamed(OutputFile& out, const std::string& name) {
  char fd_path[64];
  std::snprintf(fd_path, sizeof fd_path, "/proc/self/fd/%d", fileno(out.file));
  return linkat(AT_FDCWD, fd_path, out.folder, name.c_str(),
                AT_SYMLINK_FOLLOW) == 0;
}

bool linkAtTempName(OutputFile& out) { return linkUnnamed(out, out.temp_path); }

// Gives the finished unnamed file its name: straight at the target when no
// file is there yet, so no moment exists in which a kill leaves a stray file;
// otherwise a temporary name beside it, since linkat cannot replace a file and
// rename then moves it over the target.
bool nameUnnamed(OutputFile& out) {
  if (linkUnnamed(out, out.target)) {
    out.at_target = true;
    return true;
  }
  return errno == EEXIST && takeOldPermissions(out) &&
         tryTempNames(out, linkAtTempName);
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
  out.device = fd;
  return true;
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A device or pipe is written only once the file is complete, so that its
// reader gets the whole file or nothing, and the file can start over
// meanwhile like any other.
bool copyInPlace(OutputFile& out) {
  static char buffer[1 << 16];
  bool ok = std::fseek(out.file, 0, SEEK_SET) == 0;
  size_t n;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, out.file)) > 0) {
    ok = writeAll(out.device, buffer, n);
  }
  ok = ok && !std::ferror(out.file);
  ok = close(out.device) == 0 && ok;
  out.device = -1;
  return ok;
}

}  // namespace

// Opens the output as its folder and name in it: for a path too long for
// one system call, the folder is reached through descriptors, and every
// call names the target and its temporary file relative to it.
OutputStart startOutput(const char* path, OutputFile& out) {
  PathAt at;
  // Room for the temporary name, which is longer than the target's.
  if (!reachPath(path, 64, at)) return OutputStart::FAILED;
  out.folder = at.folder;
  out.target = at.name;
  if (isOtherThanRegularFile(out)) {
    bool gone;
    if (openInPlace(out, gone)) {
      // The file is made in the system's temporary folder (P_tmpdir: no
      // environment variable is read), since it has no folder of its own.
      out.in_place = true;
      out.file = std::tmpfile();
      return out.file ? OutputStart::OPENED : OutputStart::FAILED;
    }
    if (!gone) return OutputStart::FAILED;
  }
  if (openUnnamed(out)) return OutputStart::OPENED;
  return namedFileMightDo(errno) ? OutputStart::NEEDS_TEMP_NAME
                                 : OutputStart::FAILED;
}

bool createExclusive(OutputFile& out) {
  int fd = openat(out.folder, out.temp_path.c_str(),
                  O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  out.file = fdopen(fd, "w+b");
  if (out.file) return true;
  const int error = errno;
  close(fd);
  unlinkat(out.folder, out.temp_path.c_str(), 0);
  errno = error == EEXIST ? EIO : error;
  return false;
}

bool finishOutput(OutputFile& out) {
  if (out.unnamed) return nameUnnamed(out);
  return out.in_place ? copyInPlace(out) : takeOldPermissions(out);
}

bool replaceTarget(const OutputFile& out) {
  return renameat(out.folder, out.temp_path.c_str(), out.folder,
                  out.target.c_str()) == 0;
}

void removeOutputName(const OutputFile& out, const std::string& name) {
  unlinkat(out.folder, name.c_str(), 0);
}

void releaseOutput(OutputFile& out) {
  if (out.device >= 0) close(out.device);
  out.device = -1;
  PathAt at{out.folder, std::string()};
  closeFolder(at);
  out.folder = -1;
}

unsigned long processId() { return static_cast<unsigned long>(getpid()); }
