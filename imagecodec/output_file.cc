#include "imagecodec/output_file.h"

#include "imagecodec/file_names.h"
#include "imagecodec/long_path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The longest file name (one path component) that common file systems
// take, in bytes on POSIX systems and in characters on Windows.
constexpr size_t NAME_MAX_BYTES = 255;

// Where the last component of a path starts.
size_t baseNameStart(const std::string& path) {
#ifdef _WIN32
  size_t sep = path.find_last_of("/\\:");
#else
  size_t sep = path.find_last_of('/');
#endif
  return sep == std::string::npos ? 0 : sep + 1;
}

// A name beside the target that no other run picks: the target's name, then
// process id and a counter, tried until one is free. The target's name is
// cut where the whole would be longer than a file name may be, so that an
// output whose own name is near that limit can still be replaced.
std::string tempName(const std::string& target, unsigned attempt) {
  static unsigned counter = 0;
#ifdef _WIN32
  unsigned long pid = static_cast<unsigned long>(_getpid());
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".brisel-tmp-%lu-%u-%u", pid, counter++,
                attempt);
  const size_t base = baseNameStart(target);
  size_t keep = NAME_MAX_BYTES - std::strlen(suffix);
  if (target.size() - base <= keep) return target + suffix;
  // Not inside a UTF-8 sequence, so that the name stays valid text.
  while (keep > 0 && continuesUtf8Character(target[base + keep])) --keep;
  return target.substr(0, base + keep) + suffix;
}

#ifdef _WIN32

bool openTemp(OutputFile& out) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    // Exclusive creation: never reuse a file that happens to have this name.
    int fd = _wopen(systemPath(out.temp_path.c_str()).c_str(),
                    _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      out.file = _fdopen(fd, "wb");
      if (out.file) return true;
      _close(fd);
      removeFile(out.temp_path.c_str());
      break;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool replaceTarget(const OutputFile& out) {
  return MoveFileExW(systemPath(out.temp_path.c_str()).c_str(),
                     systemPath(out.target.c_str()).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

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
  int fd = open(folderOf(out.target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                0666);
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
    int fd = open(out.temp_path.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out.file = fdopen(fd, "wb");
      if (out.file) return true;
      close(fd);
      unlink(out.temp_path.c_str());
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

// Gives the finished unnamed file its name: straight at the target when no
// file is there yet, so no moment exists in which a kill leaves a stray file;
// otherwise a temporary name beside it, since linkat cannot replace a file and
// rename then moves it over the target.
bool nameUnnamed(OutputFile& out) {
  char fd_path[64];
  std::snprintf(fd_path, sizeof fd_path, "/proc/self/fd/%d", fileno(out.file));
  if (linkat(AT_FDCWD, fd_path, AT_FDCWD, out.target.c_str(),
             AT_SYMLINK_FOLLOW) == 0) {
    out.at_target = true;
    return true;
  }
  if (errno != EEXIST) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    if (linkat(AT_FDCWD, fd_path, AT_FDCWD, out.temp_path.c_str(),
               AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool replaceTarget(const OutputFile& out) {
  return std::rename(out.temp_path.c_str(), out.target.c_str()) == 0;
}

bool isOtherThanRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// Opens an existing device, pipe or link to one for writing in place. The
// name is opened without creating or truncating anything and checked again
// through the open descriptor, so that a link swapped for one to a regular
// file in the meantime is never written through. Returns false with `gone`
// set when the name no longer leads to such a file.
bool openInPlace(OutputFile& out, bool& gone) {
  gone = false;
  int fd = open(out.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
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
  out.file = fdopen(fd, "wb");
  if (!out.file) close(fd);
  return out.file != nullptr;
}

#endif

}  // namespace

bool openOutput(const char* path, OutputFile& out) {
  out = OutputFile();
  out.target = path;
#ifndef _WIN32
  if (isOtherThanRegularFile(out.target)) {
    bool gone;
    if (openInPlace(out, gone)) {
      out.in_place = true;
      return true;
    }
    if (!gone) return false;
  }
#endif
  return openTemp(out);
}

bool commitOutput(OutputFile& out) {
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
#ifndef _WIN32
  if (ok && out.unnamed) ok = nameUnnamed(out);
#endif
  ok = std::fclose(out.file) == 0 && ok;
  out.file = nullptr;
  if (!ok && out.at_target) removeFile(out.target.c_str());
  if (ok && !out.in_place && !out.at_target) ok = replaceTarget(out);
  if (!ok && !out.temp_path.empty()) removeFile(out.temp_path.c_str());
  out.temp_path.clear();
  return ok;
}

void abandonOutput(OutputFile& out) {
  if (out.file) std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp_path.empty()) removeFile(out.temp_path.c_str());
  out.temp_path.clear();
}
