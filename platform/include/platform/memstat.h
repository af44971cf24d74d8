// How much of the machine's physical memory is in use.
#pragma once
#include <cstdint>

// The system-wide memory load in percent (0-100): Windows' own figure;
// on POSIX the share of physical memory not available to new programs
// (MemTotal - MemAvailable of /proc/meminfo). 0, or -1 when unknown.
int pl_memory_load(uint32_t *percent);

// The largest resident set of any ended child of this process so far, in
// KiB (benchmarks); -1 where the system does not tell.
long pl_children_peak_rss_kb();
