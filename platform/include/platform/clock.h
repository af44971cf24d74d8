// Time: sleeping, the system time as a FILETIME, a monotonic counter.
#pragma once
#include <cstdint>

void pl_sleep_ms(unsigned ms);
// Current system time in 100-nanosecond units since 1601-01-01 UTC.
uint64_t pl_filetime_now();
// Milliseconds from an arbitrary fixed point; never goes back.
uint64_t pl_monotonic_ms();
// A high-resolution counter and its frequency (counts a second); false
// when the system has none.
bool pl_hires_counter(uint64_t *value, uint64_t *frequency);
