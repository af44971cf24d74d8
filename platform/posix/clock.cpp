#include "platform/clock.h"

#include <cerrno>
#include <ctime>

void pl_sleep_ms(unsigned ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t pl_filetime_now() {
  // Seconds between 1601-01-01 and 1970-01-01.
  const uint64_t kEpochDelta = 11644473600ULL;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<uint64_t>(ts.tv_sec) + kEpochDelta) * 10000000ULL +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint64_t pl_monotonic_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000ULL +
         static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
}

bool pl_hires_counter(uint64_t *value, uint64_t *frequency) {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
    return false;
  *value = static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
  *frequency = 1000000000ULL;
  return true;
}
