#ifndef BRISEL_DRIVER_OUTPUT_NAME_H
#define BRISEL_DRIVER_OUTPUT_NAME_H

#include <string>

// The output name for an input path: its last four characters (normally
// ".tga", but not examined) replaced by "_brisel.tga", so the output lands
// beside the input. Returns false when the name after the last separator
// ("/", and on Windows also "\\" and the drive's ":") is shorter than four
// characters: the rule has nothing of its own to replace there.
bool outputName(const std::string& input, std::string& output);

#endif  // BRISEL_DRIVER_OUTPUT_NAME_H
