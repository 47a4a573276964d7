#include "system/tmpfs_output.h"

// Elsewhere nothing is measured: only a full file system fails an output.
bool isMemoryBacked(std::FILE*) { return false; }

bool takeFileMemory(uint64_t) { return true; }
