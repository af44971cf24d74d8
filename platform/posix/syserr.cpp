#include "platform/syserr.h"

#include <cstdio>
#include <cstring>

const char *pl_strerror(int err, char *buf, size_t size) {
  if (size == 0)
    return buf;
  // The GNU strerror_r may return a static text instead of filling buf.
  const char *text = strerror_r(err, buf, size);
  if (text != buf)
    snprintf(buf, size, "%s", text);
  return buf;
}
