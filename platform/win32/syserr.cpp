#include "platform/syserr.h"

#include <cstdio>
#include <cstring>

const char *pl_strerror(int err, char *buf, size_t size) {
  if (size == 0)
    return buf;
  if (strerror_s(buf, size, err) != 0)
    snprintf(buf, size, "error %d", err);
  return buf;
}
