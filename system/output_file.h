#ifndef BRISEL_SYSTEM_OUTPUT_FILE_H
#define BRISEL_SYSTEM_OUTPUT_FILE_H

#include <cstdio>
#include <string>

// A file being written so that its path only ever holds the old file or the
// whole new one. The data go to a temporary file in the target's folder,
// which replaces the target by a rename once everything is written and
// closed. On Linux the temporary file has no name at all (O_TMPFILE) until
// that moment, so a process killed half way leaves nothing behind.
//
// A target that exists and is not a regular file (a device such as
// /dev/null, a pipe, or a link to one) is written in place: there is nothing
// to replace it by. A symbolic link to a regular file is replaced by the new
// file rather than written through, so an output name that happens to link
// to an input can never change that input.
struct OutputFile {
  std::FILE* file = nullptr;
  std::string target;     // the path that will hold the result
  // POSIX: the folder `target` and `temp_path` are relative to, AT_FDCWD
  // or, for a path too long for one system call, an open descriptor; in
  // that case they are names within it.
  int folder = -1;
  std::string temp_path;  // the temporary file's name, if it has one yet
  bool in_place = false;
  bool unnamed = false;   // Linux O_TMPFILE: no name until committed
  bool at_target = false; // the new file was linked straight at the target
};

bool openOutput(const char* path, OutputFile& out);
// Writes everything out, closes and renames over the target. On failure
// nothing is left at the target path or the temporary name.
bool commitOutput(OutputFile& out);
// Closes and removes the temporary file; the target is left as it was.
void abandonOutput(OutputFile& out);

// The name of the temporary file beside `target` (output_file.cc), for the
// POSIX and Windows halves of the rest.
std::string tempName(const std::string& target, unsigned attempt);

#endif  // BRISEL_SYSTEM_OUTPUT_FILE_H
