#include "system/long_path.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Opening a folder only to name things inside it needs no read permission
// where the system has O_PATH.
#ifdef O_PATH
constexpr int FOLDER_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Opens `folder` relative to `start` in steps shorter than PATH_MAX, each
// ending at a "/". Returns the last step's descriptor, or -1 with errno.
int openFolder(int start, std::string folder) {
  int fd = start;
  while (!folder.empty()) {
    size_t cut = folder.size();
    if (cut >= PATH_MAX) cut = folder.rfind('/', PATH_MAX - 1);
    int next = -1;
    if (cut == std::string::npos || cut == 0) {
      errno = ENAMETOOLONG;  // a single name longer than any system takes
    } else {
      next = openat(fd, folder.substr(0, cut).c_str(), FOLDER_FLAGS);
    }
    const int error = errno;
    if (fd != start) close(fd);
    if (next < 0) {
      errno = error;
      return -1;
    }
    fd = next;
    // What follows the cut, without its leading "/", so that it stays
    // relative to the folder just opened.
    const size_t rest = folder.find_first_not_of('/', cut);
    folder.erase(0, rest == std::string::npos ? folder.size() : rest);
  }
  return fd;
}

}  // namespace

bool reachPath(const std::string& path, size_t extra, PathAt& at) {
  at.folder = AT_FDCWD;
  at.name = path;
  const size_t slash = path.rfind('/');
  if (path.size() + extra < PATH_MAX || slash == std::string::npos) return true;
  const bool absolute = path[0] == '/';
  const int root = absolute ? open("/", FOLDER_FLAGS) : AT_FDCWD;
  if (root == -1) return false;
  const size_t first = absolute ? path.find_first_not_of('/') : 0;
  const int fd =
      first >= slash ? root : openFolder(root, path.substr(first, slash - first));
  if (root >= 0 && fd != root) close(root);
  if (fd == -1) return false;
  at.folder = fd;
  at.name = path.substr(slash + 1);
  return true;
}

void closeFolder(PathAt& at) {
  if (at.folder >= 0) close(at.folder);
  at.folder = AT_FDCWD;
}
