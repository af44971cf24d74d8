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

#include <windows.h>

int pl_system_error_text(int err, char *buf, size_t size) {
  char tmp[1024];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(err), 1033, tmp, sizeof tmp, nullptr);
  if (n == 0 || n >= size)
    return 0;
  memcpy(buf, tmp, n);
  buf[n] = '\0';
  return 1;
}
