// The output's temporary name, shared by both halves: output_file-posix.cc
// and output_file-win32.cc do the rest.

#include "system/output_file.h"

#include "system/file_names.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

// The longest file name (one path component) that common file systems
// take, in bytes on POSIX systems and in characters on Windows.
constexpr size_t NAME_MAX_BYTES = 255;

}  // namespace

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
