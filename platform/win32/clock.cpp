#include "platform/clock.h"

#include <windows.h>

void pl_sleep_ms(unsigned ms) { Sleep(ms); }

uint64_t pl_filetime_now() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint64_t pl_monotonic_ms() { return GetTickCount64(); }

bool pl_hires_counter(uint64_t *value, uint64_t *frequency) {
  LARGE_INTEGER v, f;
  if (!QueryPerformanceFrequency(&f) || f.QuadPart == 0 || !QueryPerformanceCounter(&v))
    return false;
  *value = static_cast<uint64_t>(v.QuadPart);
  *frequency = static_cast<uint64_t>(f.QuadPart);
  return true;
}
