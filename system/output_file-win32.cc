// Outputs on Windows: a named temporary file beside the target, which the
// system deletes when it is closed, until it is complete and takes the
// target's name.

#include "system/output_file.h"

#include "system/extended_path.h"
#include "system/file_names.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

namespace {

HANDLE fileHandle(const OutputFile& out) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out.file)));
}

bool setDeleteOnClose(HANDLE handle, bool on) {
  FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(on)};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Gives the open file the target's name, replacing what is there.
bool renameOverTarget(HANDLE handle, const std::string& target) {
  const std::wstring name = systemPath(target.c_str());
  const size_t name_bytes = name.size() * sizeof(wchar_t);
  // The name runs on past the record's end; `new` aligns the block for it.
  std::vector<unsigned char> block(sizeof(FILE_RENAME_INFO) + name_bytes);
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  // With its terminating null, for which the record has room.
  std::memcpy(info->FileName, name.c_str(), name_bytes + sizeof(wchar_t));
  return SetFileInformationByHandle(handle, FileRenameInfo, info,
                                    static_cast<DWORD>(block.size())) != 0;
}

}  // namespace

// The read-only attribute protects a file from every Windows program that
// would replace it (renaming over it is refused); brisel keeps that promise
// too, although Wine does not enforce it. A folder's attribute means nothing
// of the kind.
OutputStart startOutput(const char* path, OutputFile& out) {
  out.target = path;
  const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EACCES;
    return OutputStart::FAILED;
  }
  return OutputStart::NEEDS_TEMP_NAME;
}

// Marked for deletion as soon as it exists, so that a run killed while it
// writes leaves nothing: the system deletes the file when its last handle
// closes, however the process ends. Where the file system cannot mark it,
// the file is written all the same, and removed by name on failure.
bool createExclusive(OutputFile& out) {
  const HANDLE handle = CreateFileW(
      systemPath(out.temp_path.c_str()).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                ? EEXIST
                : EACCES;
    return false;
  }
  out.delete_pending = setDeleteOnClose(handle, true);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  out.file = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
  if (out.file) return true;
  if (fd >= 0) {
    _close(fd);
  } else {
    CloseHandle(handle);
  }
  if (!out.delete_pending) removeFile(out.temp_path.c_str());
  errno = EIO;
  return false;
}

// A marked file takes the target's name while it is still open: the mark
// is cleared only now that it is complete, and a kill between the two
// leaves the whole file under its temporary name, never a part of it.
bool finishOutput(OutputFile& out) {
  if (!out.delete_pending) return true;
  const HANDLE handle = fileHandle(out);
  if (!setDeleteOnClose(handle, false)) return false;
  out.delete_pending = false;
  if (!renameOverTarget(handle, out.target)) return false;
  out.at_target = true;
  out.temp_path.clear();
  return true;
}

// Only for a file that could not be marked.
bool replaceTarget(const OutputFile& out) {
  return MoveFileExW(systemPath(out.temp_path.c_str()).c_str(),
                     systemPath(out.target.c_str()).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// A marked file goes when it is closed; its name cannot be opened meanwhile.
void removeOutputName(const OutputFile& out, const std::string& name) {
  if (!out.delete_pending || name != out.temp_path) removeFile(name.c_str());
}

void releaseOutput(OutputFile& out) { out.delete_pending = false; }

unsigned long processId() { return static_cast<unsigned long>(_getpid()); }
