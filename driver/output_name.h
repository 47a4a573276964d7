#ifndef BRISEL_DRIVER_OUTPUT_NAME_H
#define BRISEL_DRIVER_OUTPUT_NAME_H

#include <string>

// The output name for an input path: its last four characters (normally
// ".tga", but not examined) replaced by "_brisel.tga", so the output lands
// beside the input. Returns false when the path is shorter than four
// characters and the rule has nothing to replace.
bool outputName(const std::string& input, std::string& output);

#endif  // BRISEL_DRIVER_OUTPUT_NAME_H
