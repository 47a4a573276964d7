#include "system/input_file.h"

#include <sys/stat.h>

bool canReadAgain(std::FILE* file) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
}
