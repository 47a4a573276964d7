#include "imagecodec/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// A name beside the target that no other run picks: process id plus a
// counter, tried until one is free.
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
  return target + suffix;
}

#ifdef _WIN32

bool openTemp(OutputFile& out) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    // Exclusive creation: never reuse a file that happens to have this name.
    int fd = _open(out.temp_path.c_str(),
                   _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      out.file = _fdopen(fd, "wb");
      if (out.file) return true;
      _close(fd);
      std::remove(out.temp_path.c_str());
      break;
    }
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool replaceTarget(const OutputFile& out) {
  return MoveFileExA(out.temp_path.c_str(), out.target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool isOtherThanRegularFile(const std::string&) { return false; }

#else

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool openUnnamed(OutputFile& out) {
#ifdef O_TMPFILE
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

#endif

}  // namespace

bool openOutput(const char* path, OutputFile& out) {
  out = OutputFile();
  out.target = path;
  if (isOtherThanRegularFile(out.target)) {
    out.in_place = true;
    out.file = std::fopen(out.target.c_str(), "wb");
    return out.file != nullptr;
  }
  return openTemp(out);
}

bool commitOutput(OutputFile& out) {
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file);
#ifndef _WIN32
  if (ok && out.unnamed) ok = nameUnnamed(out);
#endif
  ok = std::fclose(out.file) == 0 && ok;
  out.file = nullptr;
  if (!ok && out.at_target) std::remove(out.target.c_str());
  if (ok && !out.in_place && !out.at_target) ok = replaceTarget(out);
  if (!ok && !out.temp_path.empty()) std::remove(out.temp_path.c_str());
  out.temp_path.clear();
  return ok;
}

void abandonOutput(OutputFile& out) {
  if (out.file) std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp_path.empty()) std::remove(out.temp_path.c_str());
  out.temp_path.clear();
}
