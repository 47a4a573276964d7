#include "system/input_file.h"

#include <sys/stat.h>

FileStamp fileStamp(std::FILE* file) {
  FileStamp stamp;
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
  stamp.known = true;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.seconds = st.st_mtim.tv_sec;
  stamp.nanoseconds = st.st_mtim.tv_nsec;
  return stamp;
}
