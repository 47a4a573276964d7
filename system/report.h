#ifndef BRISEL_SYSTEM_REPORT_H
#define BRISEL_SYSTEM_REPORT_H

#include <string>

// The tool's lines; report.cc spells each one.
enum class Message {
  USAGE,
  NOT_FOUND,
  CANNOT_BE_READ,
  NOT_TGA,
  NOT_32BIT,
  TOO_LARGE,
  NAME_TOO_SHORT,
  TRUNCATED,
  CANNOT_BE_WRITTEN,
  WRITTEN,
};

// Prints one message line to standard output, with `name` in it, at once and
// in one write: progress shows immediately when piped, and lines of up to
// PIPE_BUF bytes from several processes sharing a pipe do not tear.
void reportLine(Message message, const char* name = "");

// The errno of the first line that could not be written (a full disk, a
// closed standard output, a pipe whose reader has gone while SIGPIPE is
// ignored), or 0. The lines are the tool's only report, so losing one must
// not pass for success. Where SIGPIPE is left at its default, a broken pipe
// ends the tool through it, as for other command-line tools.
int reportWriteError();

// Called first thing: a closed standard output or error is held open on
// /dev/null. Otherwise the next file opened would take its number, and
// lines meant for it would be written into that file (an output image). A
// closed standard output still counts as lines lost. On POSIX systems it
// also sets SIGPIPE aside, so that an output (a named pipe) whose reader
// leaves fails as that output alone; only standard output's broken pipe
// ends the run by SIGPIPE, where it was at its default.
void holdStandardStreams();

// --- the platform halves (report-posix.cc, report-win32.cc) ---
// Writes one whole line to standard output at once; false, with errno set
// where the system gives one, when it could not all be written.
bool writeMessageLine(const std::string& line);
// Counts a line lost with `error` (report.cc); the first one is kept.
void rememberWriteError(int error);

#endif  // BRISEL_SYSTEM_REPORT_H
