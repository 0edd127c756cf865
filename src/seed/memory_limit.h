// How much memory this process can have, so that a file that could never fit
// fails at its header instead of after minutes of reading. Not part of the
// installed interface.
#pragma once

#include <cstdint>

namespace seedmatch {

// The least of physical memory, the memory limit of this process's cgroup
// (v2 or v1, its ancestors included) and RLIMIT_AS, in bytes; UINT64_MAX when
// none of them can be found. Reads a few small files under /proc and /sys.
std::uint64_t memoryAvailable();

}  // namespace seedmatch
