#ifndef BRISEL_SYSTEM_INPUT_FILE_H
#define BRISEL_SYSTEM_INPUT_FILE_H

#include <cstdio>

// Whether `file` can be read again from its first byte: a regular file on a
// disk, not a pipe, socket or device, whose bytes are gone once read. Only
// such an input can be streamed a block of rows at a time, since the output
// may have to start over.
bool canReadAgain(std::FILE* file);

#endif  // BRISEL_SYSTEM_INPUT_FILE_H
