#include "system/input_file.h"

#include <io.h>
#include <windows.h>

bool canReadAgain(std::FILE* file) {
  const intptr_t handle = _get_osfhandle(_fileno(file));
  return handle != -1 &&
         GetFileType(reinterpret_cast<HANDLE>(handle)) == FILE_TYPE_DISK;
}
