#ifndef BRISEL_SYSTEM_TMPFS_OUTPUT_H
#define BRISEL_SYSTEM_TMPFS_OUTPUT_H

#include <cstdint>
#include <cstdio>

// Outputs on a file system held in memory (Linux tmpfs and ramfs: /dev/shm,
// and /tmp in many containers). Their pages are charged to the writer's
// memory cgroup and, without swap, cannot be reclaimed, so an output too
// large for what is left would get the process killed by the out-of-memory
// killer part way through the batch. Such an output fails instead.

// Whether `file` lies on such a file system.
bool isMemoryBacked(std::FILE* file);

// Whether `bytes` more of such files fit in what the process can still get;
// those that do are counted as taken. That room is the least of
//   - for each memory cgroup the process is in, and each cgroup above it:
//     the limit minus what the cgroup uses, not counting file pages, which
//     the kernel reclaims before it kills (v2 memory.max, memory.current
//     and memory.stat; v1 memory.limit_in_bytes, memory.usage_in_bytes and
//     memory.stat);
//   - MemAvailable plus SwapFree from /proc/meminfo;
// less a margin for what the kernel charges besides. Figures that are
// missing or unreadable are left out; where none can be read, and on other
// systems, it is always true.
bool takeFileMemory(uint64_t bytes);

#endif  // BRISEL_SYSTEM_TMPFS_OUTPUT_H
