#include "platform/procinfo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "internal.h"

unsigned long pl_getpid() { return GetCurrentProcessId(); }

int pl_self_dir(char *buf, size_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(size));
  if (n == 0)
    return pl_win_errno(GetLastError());
  if (n >= size)
    return ENAMETOOLONG;
  char *slash = strrchr(buf, '\\');
  if (!slash)
    return ENOENT;
  *slash = '\0';
  return 0;
}

int pl_setenv(const char *name, const char *value) {
  // Both the C library's copy and the process block, which children get.
  if (_putenv_s(name, value ? value : "") != 0)
    return errno;
  return SetEnvironmentVariableA(name, value) ? 0 : pl_win_errno(GetLastError());
}

const char pl_path_list_sep = ';';

int pl_env_exists(const char *name) {
  char c;
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA(name, &c, 1);
  return (n > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) ? 1 : 0;
}

long pl_getenv(const char *name, char *buf, size_t size) {
  SetLastError(0);
  DWORD n = GetEnvironmentVariableA(name, buf, static_cast<DWORD>(size));
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return -1;
  if (n >= size) // too small: n is the size needed, terminator included
    return static_cast<long>(n - 1);
  return static_cast<long>(n);
}
