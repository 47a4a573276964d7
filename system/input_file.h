#ifndef BRISEL_SYSTEM_INPUT_FILE_H
#define BRISEL_SYSTEM_INPUT_FILE_H

#include <cstdint>
#include <cstdio>

// What tells one version of a file on a disk from the next: its size and
// the time it was last written. An input is read once, from its first byte
// to its last; one that an editor saves over meanwhile would give an output
// made of both versions, so its stamp is taken when it is opened and again
// when it has been read. Pipes and devices have none (`known` is false):
// their times move with every read, and their bytes cannot change once read.
struct FileStamp {
  bool known = false;
  uint64_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
};

FileStamp fileStamp(std::FILE* file);

inline bool sameStamp(const FileStamp& a, const FileStamp& b) {
  return a.known == b.known && a.size == b.size && a.seconds == b.seconds &&
         a.nanoseconds == b.nanoseconds;
}

#endif  // BRISEL_SYSTEM_INPUT_FILE_H
