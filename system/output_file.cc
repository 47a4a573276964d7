// The order of steps in writing an output, and the temporary name, shared by
// both halves: output_file-posix.cc and output_file-win32.cc supply the
// primitives.

#include "system/output_file.h"

#include "system/file_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".brisel-tmp-%lu-%u-%u", processId(),
                counter++, attempt);
  const size_t base = baseNameStart(target);
  size_t keep = NAME_MAX_BYTES - std::strlen(suffix);
  if (target.size() - base <= keep) return target + suffix;
  // Not inside a UTF-8 sequence, so that the name stays valid text.
  while (keep > 0 && continuesUtf8Character(target[base + keep])) --keep;
  return target.substr(0, base + keep) + suffix;
}

bool tryTempNames(OutputFile& out, bool (*make)(OutputFile& out)) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    out.temp_path = tempName(out.target, attempt);
    if (make(out)) return true;
    if (errno != EEXIST) break;
  }
  out.temp_path.clear();
  return false;
}

bool openOutput(const char* path, OutputFile& out) {
  abandonOutput(out);
  out.target.clear();
  out.in_place = out.unnamed = out.at_target = false;
  switch (startOutput(path, out)) {
    case OutputStart::OPENED:
      return true;
    case OutputStart::NEEDS_TEMP_NAME:
      if (tryTempNames(out, createExclusive)) return true;
      break;
    case OutputStart::FAILED:
      break;
  }
  releaseOutput(out);
  return false;
}

bool commitOutput(OutputFile& out) {
  bool ok = std::fflush(out.file) == 0 && !std::ferror(out.file) &&
            finishOutput(out);
  ok = std::fclose(out.file) == 0 && ok;
  out.file = nullptr;
  if (!ok && out.at_target) removeOutputName(out, out.target);
  if (ok && !out.in_place && !out.at_target) ok = replaceTarget(out);
  if (!ok && !out.temp_path.empty()) removeOutputName(out, out.temp_path);
  out.temp_path.clear();
  releaseOutput(out);
  return ok;
}

void abandonOutput(OutputFile& out) {
  if (out.file) std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp_path.empty()) removeOutputName(out, out.temp_path);
  out.temp_path.clear();
  releaseOutput(out);
}

OutputFile::~OutputFile() { abandonOutput(*this); }
