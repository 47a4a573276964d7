#ifndef BRISEL_SYSTEM_MEMORY_LIMIT_H
#define BRISEL_SYSTEM_MEMORY_LIMIT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint64_t NO_MEMORY_LIMIT = UINT64_MAX;

// How many more bytes this process can allocate and touch, as far as the
// system says; NO_MEMORY_LIMIT when it does not say.
//
// Linux overcommits: an allocation larger than the memory there is still
// succeeds, and the process is killed by the out-of-memory killer when its
// pages are touched, taking the rest of the batch with it. So an image is
// measured against this figure before its pixels are allocated. It is the
// least of
//   - for each memory cgroup the process is in, and each cgroup above it:
//     the limit minus what the cgroup uses, not counting file pages, which
//     the kernel reclaims before it kills (v2 memory.max, memory.current
//     and memory.stat; v1 memory.limit_in_bytes, memory.usage_in_bytes and
//     memory.stat);
//   - MemAvailable plus SwapFree from /proc/meminfo.
// Figures that are missing or unreadable are left out, so where none can be
// read nothing is refused that was not refused before.
uint64_t availableMemory();

// What `bytes` of new memory cost against availableMemory() once touched.
// Linux charges a memory cgroup the page tables that map them too, 8 bytes
// for each 4 KiB page (1/512), and further kernel memory while the image is
// written out (measured under a cgroup v1 limit: less than 1/600 of the
// pixels, when a large output waits in the page cache to be written back),
// for which 1/256 is kept. Without them an image just under a limit passed
// the check and was killed. Elsewhere the bytes alone.
uint64_t chargedMemory(uint64_t bytes);

// Whether `file` lies on a file system held in memory (Linux tmpfs and
// ramfs: /dev/shm, and /tmp in many containers). Its pages are charged to
// the writer's memory cgroup and, without swap, cannot be reclaimed, so
// writing too much of it gets the process killed.
bool isMemoryBacked(std::FILE* file);
// Whether `bytes` more of such files fit in what availableMemory() gives,
// less a margin as above; those that do are counted as taken. The figure is
// read again after each MiB taken, and after each availableMemory() call,
// since a new block may follow it. Always true where nothing is measured.
bool takeFileMemory(uint64_t bytes);

// Asks for 2 MiB pages under the part of a large new block they can cover.
// With 4 KiB pages the first touch of a 64 MiB image costs 16384 page
// faults, more time than decoding it. Only a hint: where the system does not
// take it, the block works the same.
void preferHugePages(uint8_t* data, size_t size);

#endif  // BRISEL_SYSTEM_MEMORY_LIMIT_H
