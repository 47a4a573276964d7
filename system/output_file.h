#ifndef BRISEL_SYSTEM_OUTPUT_FILE_H
#define BRISEL_SYSTEM_OUTPUT_FILE_H

#include <cstdio>
#include <string>

// A file being written so that its path only ever holds the old file or the
// whole new one. The file is open for reading too, so that what was written
// can be read back. The data go to a temporary file in the target's folder,
// which replaces the target by a rename once everything is written and
// closed. output_file.cc owns that order of steps; each platform half
// supplies the primitives below it.
//
// What each platform adds:
// - POSIX: on Linux the temporary file has no name at all (O_TMPFILE) until
//   it is complete, so a process killed half way leaves nothing behind. A
//   target that exists and is not a regular file (a device such as
//   /dev/null, a pipe, or a link to one) is opened at once and written in
//   place, there being nothing to replace it by, but only at the commit,
//   from a temporary file in the system's temporary folder: its reader gets
//   the whole file or nothing. A symbolic link to a regular file is replaced
//   by the new file rather than written through, so an output name that
//   happens to link to an input can never change that input. A replaced
//   file's permission bits, owner and group carry over.
// - Windows: the temporary file is named from the start but marked for
//   deletion until it is complete, so a process killed half way leaves
//   nothing either; then it is renamed over the target through its handle.
//   A read-only target is not replaced. The new file has the usual
//   attributes.
struct OutputFile {
  std::FILE* file = nullptr;
  std::string target;     // the path that will hold the result
  // POSIX: the folder `target` and `temp_path` are relative to, AT_FDCWD
  // or, for a path too long for one system call, an open descriptor; in
  // that case they are names within it.
  int folder = -1;
  std::string temp_path;  // the temporary file's name, if it has one yet
  bool in_place = false;  // copied into a device or pipe when committed
  int device = -1;        // POSIX: that device or pipe, open for writing
  bool unnamed = false;   // Linux O_TMPFILE: no name until committed
  bool at_target = false; // the new file already has the target's name
  bool delete_pending = false;  // Windows: deleted when closed, until complete

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Abandons an output neither committed nor abandoned, so that no way out
  // of a caller leaks the file or leaves the temporary file behind.
  ~OutputFile();
};

bool openOutput(const char* path, OutputFile& out);
// Writes everything out, closes and renames over the target. On failure
// nothing is left at the target path or the temporary name.
bool commitOutput(OutputFile& out);
// Closes and removes the temporary file; the target is left as it was.
void abandonOutput(OutputFile& out);

// --- the platform halves (output_file-posix.cc, output_file-win32.cc) ---
enum class OutputStart { OPENED, NEEDS_TEMP_NAME, FAILED };
// Sets the target (and folder); opens in place or unnamed where the
// platform can, or asks for a named temporary file.
OutputStart startOutput(const char* path, OutputFile& out);
// Creates and opens `out.temp_path`, never reusing an existing file. False
// with errno set; EEXIST when the name is taken.
bool createExclusive(OutputFile& out);
// The last steps before the file is closed (permissions, a name for an
// unnamed file); false when the output must fail.
bool finishOutput(OutputFile& out);
// Moves the temporary file over the target.
bool replaceTarget(const OutputFile& out);
void removeOutputName(const OutputFile& out, const std::string& name);
// Lets go of what startOutput held besides the file (a folder descriptor).
void releaseOutput(OutputFile& out);
unsigned long processId();

// --- shared by both halves (output_file.cc) ---
// The name of the temporary file beside `target`.
std::string tempName(const std::string& target, unsigned attempt);
// Sets `out.temp_path` to one free name after another and calls `make` on
// it, until it succeeds or fails for another reason than a taken name.
bool tryTempNames(OutputFile& out, bool (*make)(OutputFile& out));

#endif  // BRISEL_SYSTEM_OUTPUT_FILE_H
