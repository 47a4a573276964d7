#include "system/input_file.h"

#include <io.h>
#include <windows.h>

FileStamp fileStamp(std::FILE* file) {
  FileStamp stamp;
  const HANDLE handle =
      reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &info)) {
    return stamp;
  }
  stamp.known = true;
  stamp.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  // Windows counts in 100 ns steps.
  const uint64_t ticks = uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                         info.ftLastWriteTime.dwLowDateTime;
  stamp.seconds = static_cast<int64_t>(ticks / 10000000);
  stamp.nanoseconds = static_cast<int64_t>(ticks % 10000000 * 100);
  return stamp;
}
