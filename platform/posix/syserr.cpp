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

int pl_system_error_text(int err, char *buf, size_t size) {
  char tmp[512];
  const char *text = strerror_r(err, tmp, sizeof tmp);
  if (!text || strncmp(text, "Unknown error", 13) == 0)
    return 0;
  size_t n = strlen(text);
  if (n >= size)
    return 0;
  memcpy(buf, text, n + 1);
  return 1;
}
