#ifndef BRISEL_IMAGECODEC_REPORT_H
#define BRISEL_IMAGECODEC_REPORT_H

// Prints one message line to standard output, with `format` holding a single
// %s for `name`, and flushes it at once: progress shows immediately when
// piped, and lines from several processes sharing a pipe do not tear (the
// whole line goes out in one write).
void reportLine(const char* format, const char* name);

#endif  // BRISEL_IMAGECODEC_REPORT_H
