#include "platform/memstat.h"

#include <windows.h>

int pl_memory_load(uint32_t *percent) {
  MEMORYSTATUSEX m;
  m.dwLength = sizeof m;
  if (GlobalMemoryStatusEx(&m)) {
    *percent = m.dwMemoryLoad;
    return 0;
  }
  MEMORYSTATUS b;
  b.dwLength = sizeof b;
  GlobalMemoryStatus(&b);
  *percent = b.dwMemoryLoad;
  return 0;
}

long pl_children_peak_rss_kb() { return -1; }
