#include "imagecodec/report.h"

#include "imagecodec/file_names.h"

#include <cstdio>
#include <string>

void reportLine(const char* format, const char* name_bytes) {
  const std::string printable = printableName(name_bytes);
  const char* name = printable.c_str();
  int length = std::snprintf(nullptr, 0, format, name);
  if (length < 0) return;
  std::string line(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&line[0], line.size(), format, name);
  line.pop_back();
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}
