#include "platform/procinfo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

unsigned long pl_getpid() { return static_cast<unsigned long>(getpid()); }

int pl_self_dir(char *buf, size_t size) {
  if (size < 2)
    return ERANGE;
  ssize_t n = readlink("/proc/self/exe", buf, size - 1);
  if (n < 0)
    return errno;
  if (static_cast<size_t>(n) >= size - 1)
    return ENAMETOOLONG;
  buf[n] = '\0';
  char *slash = strrchr(buf, '/');
  if (!slash)
    return ENOENT;
  if (slash == buf)
    slash[1] = '\0';
  else
    *slash = '\0';
  return 0;
}

int pl_setenv(const char *name, const char *value) {
  int rc = value ? setenv(name, value, 1) : unsetenv(name);
  return rc == 0 ? 0 : errno;
}

const char pl_path_list_sep = ':';

int pl_env_exists(const char *name) { return getenv(name) != nullptr; }

long pl_getenv(const char *name, char *buf, size_t size) {
  const char *v = getenv(name);
  if (!v)
    return -1;
  size_t n = strlen(v);
  if (n < size)
    memcpy(buf, v, n + 1);
  return static_cast<long>(n);
}

int pl_user_name(char *buf, size_t size) {
  struct passwd *pw = getpwuid(geteuid());
  const char *name = pw ? pw->pw_name : getenv("USER");
  if (!name || strlen(name) >= size)
    return ENOENT;
  memcpy(buf, name, strlen(name) + 1);
  return 0;
}

void pl_command_line(int argc, char **argv, char *buf, size_t size) {
  if (size == 0)
    return;
  buf[0] = '\0';
  size_t n = 0;
  for (int i = 0; i < argc; ++i) {
    int w = snprintf(buf + n, size - n, "%s%s", i ? " " : "", argv[i]);
    if (w < 0 || static_cast<size_t>(w) >= size - n)
      break;
    n += static_cast<size_t>(w);
  }
}

int pl_is_wow64() { return 0; }
int pl_reg_has_view_delete() { return 0; }
