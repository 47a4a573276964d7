#include "system/tmpfs_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr uint64_t NO_MEMORY_LIMIT = UINT64_MAX;
// cgroup v1 shows "no limit" as a number near 2^63.
constexpr uint64_t UNLIMITED_FROM = uint64_t{1} << 62;

// Reads a file of /proc or /sys whole; false when it is missing or
// unreadable. Plain system calls: these files are read for every input, and
// stdio would add a buffer and a stat to each.
bool readText(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text.clear();
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return n == 0;
}

// The decimal number at `text`; false for anything else, such as the
// "max" by which cgroup v2 says there is no limit.
bool parseNumber(const char* text, uint64_t& value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  const unsigned long long number = std::strtoull(text, nullptr, 10);
  if (errno == ERANGE) return false;
  value = number;
  return true;
}

bool readNumber(const std::string& path, uint64_t& value) {
  std::string text;
  return readText(path, text) && parseNumber(text.c_str(), value);
}

// The number on the line "key value" or "key: value" of memory.stat or
// /proc/meminfo.
bool findField(const std::string& text, const char* key, uint64_t& value) {
  const size_t length = std::strlen(key);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end - at > length && text.compare(at, length, key) == 0 &&
        (text[at + length] == ' ' || text[at + length] == ':')) {
      size_t digits = text.find_first_not_of(" :", at + length);
      return digits < end && parseNumber(text.c_str() + digits, value);
    }
    at = end + 1;
  }
  return false;
}

uint64_t fieldOrZero(const std::string& text, const char* key) {
  uint64_t value = 0;
  return findField(text, key, value) ? value : 0;
}

// The parts of `text` between `separator`s.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos;
       from = at + 1) {
    parts.push_back(text.substr(from, at - from));
  }
  parts.push_back(text.substr(from));
  return parts;
}

// Whether the comma-separated `list` holds `item`.
bool listHas(const std::string& list, const std::string& item) {
  const std::vector<std::string> items = split(list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// One memory cgroup folder the process is in or below.
struct CgroupFolder {
  std::string path;
  bool v2 = false;
  uint64_t limit = 0;
};

// The paths of the process's memory cgroups, from /proc/self/cgroup: the
// v2 line "0::/path" and the v1 line whose controllers include "memory".
void findOwnCgroups(std::string& v1_path, std::string& v2_path) {
  std::string text;
  if (!readText("/proc/self/cgroup", text)) return;
  // Each line: hierarchy id, controllers, path (which may hold ':').
  for (const std::string& line : split(text, '\n')) {
    const size_t first = line.find(':');
    const size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      v2_path = line.substr(second + 1);
    } else if (listHas(controllers, "memory")) {
      v1_path = line.substr(second + 1);
    }
  }
}

// Adds the folder of the cgroup at `path`, and every folder above it up to
// the mount point, for a cgroup file system mounted at `mount_point` from
// its folder `root`. A limit set on a parent binds the children as well.
void addFolders(const std::string& root, const std::string& mount_point,
                const std::string& path, bool v2,
                std::vector<CgroupFolder>& folders) {
  if (path.empty()) return;
  std::string relative;
  if (root == "/") {
    relative = path;
  } else if (path.compare(0, root.size(), root) == 0 &&
             (path.size() == root.size() || path[root.size()] == '/')) {
    relative = path.substr(root.size());
  } else {
    return;  // this mount does not show the process's cgroup
  }
  while (!relative.empty() && relative.back() == '/') relative.pop_back();
  const char* limit_file = v2 ? "/memory.max" : "/memory.limit_in_bytes";
  for (;;) {
    // Only folders that set a limit are kept (not the top of v2, nor a v2
    // mount without the memory controller, nor "max"), so that each input
    // costs as few reads as there are limits.
    CgroupFolder folder{mount_point + relative, v2, 0};
    if (readNumber(folder.path + limit_file, folder.limit) &&
        folder.limit < UNLIMITED_FROM) {
      folders.push_back(folder);
    }
    if (relative.empty()) break;
    relative.erase(relative.rfind('/'));
  }
}

// Where the process's memory cgroups are and their limits, found once: the
// process does not move, the mounts do not change under it, and a limit
// changed while the batch runs is rare enough to be left to the kernel.
std::vector<CgroupFolder> findCgroupFolders() {
  std::vector<CgroupFolder> folders;
  std::string v1_path, v2_path, text;
  findOwnCgroups(v1_path, v2_path);
  if (!readText("/proc/self/mountinfo", text)) return folders;
  // Each line: id parent device root mount-point options... - type source
  // super-options. Names with spaces are escaped, so fields split on ' '.
  for (const std::string& line : split(text, '\n')) {
    const std::vector<std::string> fields = split(line, ' ');
    auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields.end() - dash < 4) continue;
    if (dash[1] == "cgroup2") {
      addFolders(fields[3], fields[4], v2_path, true, folders);
    } else if (dash[1] == "cgroup" && listHas(dash[3], "memory")) {
      addFolders(fields[3], fields[4], v1_path, false, folders);
    }
  }
  return folders;
}

// What the cgroup still allows; NO_MEMORY_LIMIT when its use is unknown. File
// pages (cached inputs, written outputs) count as free: the kernel reclaims
// them before it kills, and refusing on them would refuse on a guess. The
// pages of tmpfs files (shmem) are not among them: without swap they cannot
// be reclaimed, and the kernel lists them with anonymous memory, not in
// active_file and inactive_file, so they count as used.
uint64_t cgroupRoom(const CgroupFolder& folder) {
  uint64_t usage = 0;
  std::string stat;
  if (!readNumber(folder.path + (folder.v2 ? "/memory.current"
                                           : "/memory.usage_in_bytes"),
                  usage)) {
    return NO_MEMORY_LIMIT;
  }
  uint64_t file_pages = 0;
  if (readText(folder.path + "/memory.stat", stat)) {
    file_pages =
        folder.v2 ? fieldOrZero(stat, "active_file") +
                        fieldOrZero(stat, "inactive_file")
                  : fieldOrZero(stat, "total_active_file") +
                        fieldOrZero(stat, "total_inactive_file");
  }
  const uint64_t used = usage - std::min(usage, file_pages);
  return folder.limit > used ? folder.limit - used : 0;
}

// MemAvailable plus SwapFree; NO_MEMORY_LIMIT on kernels without the first.
uint64_t systemRoom() {
  std::string text;
  uint64_t available_kib = 0;
  if (!readText("/proc/meminfo", text) ||
      !findField(text, "MemAvailable", available_kib)) {
    return NO_MEMORY_LIMIT;
  }
  const uint64_t total_kib = available_kib + fieldOrZero(text, "SwapFree");
  return total_kib > NO_MEMORY_LIMIT / 1024 ? NO_MEMORY_LIMIT
                                            : total_kib * 1024;
}

// What the process can get.
uint64_t readRoom() {
  static const std::vector<CgroupFolder> folders = findCgroupFolders();
  uint64_t room = systemRoom();
  for (const CgroupFolder& folder : folders) {
    room = std::min(room, cgroupRoom(folder));
  }
  return room;
}

// How much takeFileMemory may still hand out from its last reading, and how
// much it has since. Readings are dear (/proc/meminfo above all), but other
// processes take memory meanwhile, so one is trusted for FILE_READING_BYTES,
// or, where there is plenty of room, for a share of it.
constexpr uint64_t FILE_READING_BYTES = uint64_t{1} << 20;
constexpr uint64_t FILE_READING_SHARE = 64;
uint64_t file_room = 0;
uint64_t file_taken = 0;
uint64_t file_trusted = 0;

// What the kernel charges a memory cgroup besides `bytes` of pages: the
// page tables that map them, 8 bytes for each 4 KiB page (1/512), and
// further kernel memory while they are written out, measured under a v1
// limit at less than 1/600 of them, for which 1/256 is kept.
uint64_t chargedBesides(uint64_t bytes) {
  constexpr uint64_t PAGE_TABLE_SHARE = 4096 / 8;
  constexpr uint64_t MARGIN_SHARE = 256;
  return bytes / PAGE_TABLE_SHARE + bytes / MARGIN_SHARE;
}

}  // namespace

bool isMemoryBacked(std::FILE* file) {
  // The types of tmpfs and ramfs (linux/magic.h).
  constexpr uint32_t TMPFS_TYPE = 0x01021994;
  constexpr uint32_t RAMFS_TYPE = 0x858458f6;
  struct statfs system;
  if (fstatfs(fileno(file), &system) != 0) return false;
  const uint32_t type = static_cast<uint32_t>(system.f_type);
  return type == TMPFS_TYPE || type == RAMFS_TYPE;
}

bool takeFileMemory(uint64_t bytes) {
  if (bytes > file_room || file_taken + bytes > file_trusted) {
    const uint64_t room = readRoom();
    file_room = room == NO_MEMORY_LIMIT ? room : room - chargedBesides(room);
    file_taken = 0;
    file_trusted =
        std::max(FILE_READING_BYTES, file_room / FILE_READING_SHARE);
  }
  if (bytes > file_room) return false;
  if (file_room != NO_MEMORY_LIMIT) file_room -= bytes;
  file_taken += bytes;
  return true;
}
