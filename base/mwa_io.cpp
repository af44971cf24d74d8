#include <cstring>

#include "mwa_system.h"
#include "platform/file.h"

static const char fs_moduleName[] = "mwa_io";

int mwa_isseparator(char c) { return c == '\\' || c == '/'; }

int mwa_joinpath(char *parent, size_t cap, const char *child) {
  MWA_CHECK(parent);
  MWA_CHECK(child);
  size_t plen = strlen(parent), clen = strlen(child);
  bool sep = plen > 0 && !mwa_isseparator(parent[plen - 1]);
  if (plen + (sep ? 1 : 0) + clen >= cap)
    return 0;
  if (sep)
    parent[plen++] = pl_path_sep;
  memcpy(parent + plen, child, clen + 1);
  return 1;
}
