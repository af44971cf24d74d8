#include "platform/procinfo.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
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

int pl_user_name(char *buf, size_t size) {
  DWORD n = static_cast<DWORD>(size);
  return GetUserNameA(buf, &n) ? 0 : pl_win_errno(GetLastError());
}

void pl_command_line(int, char **, char *buf, size_t size) {
  if (size == 0)
    return;
  snprintf(buf, size, "%s", GetCommandLineA());
}

int pl_is_wow64() {
  typedef BOOL(WINAPI * IsWow64)(HANDLE, PBOOL);
  HMODULE k = LoadLibraryA("kernel32.dll");
  if (!k)
    return 0;
  IsWow64 fn = reinterpret_cast<IsWow64>(reinterpret_cast<void *>(GetProcAddress(k, "IsWow64Process")));
  BOOL wow = FALSE;
  int result = fn && fn(GetCurrentProcess(), &wow) && wow ? 1 : 0;
  FreeLibrary(k);
  return result;
}

int pl_reg_has_view_delete() {
  HMODULE a = LoadLibraryA("advapi32.dll");
  if (!a)
    return 0;
  int found = GetProcAddress(a, "RegDeleteKeyExA") != nullptr;
  FreeLibrary(a);
  return found;
}
