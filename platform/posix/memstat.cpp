#include "platform/memstat.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

int pl_memory_load(uint32_t *percent) {
  FILE *f = fopen("/proc/meminfo", "r");
  if (!f)
    return -1;
  char line[256];
  unsigned long long total = 0, avail = 0;
  bool haveAvail = false;
  while (fgets(line, sizeof line, f)) {
    if (sscanf(line, "MemTotal: %llu", &total) == 1)
      continue;
    if (sscanf(line, "MemAvailable: %llu", &avail) == 1)
      haveAvail = true;
  }
  fclose(f);
  if (total == 0 || !haveAvail || avail > total)
    return -1;
  *percent = static_cast<uint32_t>((total - avail) * 100 / total);
  return 0;
}

long pl_children_peak_rss_kb() {
  struct rusage ru;
  if (getrusage(RUSAGE_CHILDREN, &ru) != 0)
    return -1;
  return ru.ru_maxrss;
}
