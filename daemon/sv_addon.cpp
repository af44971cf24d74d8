// Start-up files: the add-on directories put in front of PATH, and the
// snapshot of the agent's properties files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "daemon.h"
#include "mwa_system.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "sv_error.h"

namespace {

// A list of owned strings, grown 10 entries at a time.
struct PathList {
  char **items;
  int count;
  int capacity;
};

void fs_mallocFailed(const char *routine, int site) {
  PutErrorDetail(SV_LINE_SYSCALL, routine, site, "malloc", 12, 0, "?", PL_INVALID_SOCKET);
  PutSystemError(12);
}

void fs_freeList(PathList *list) {
  for (int i = 0; i < list->count; ++i)
    free(list->items[i]);
  free(list->items);
  list->items = nullptr;
  list->count = list->capacity = 0;
}

int fs_AddPathToList(const char *dir, PathList *list) {
  for (int i = 0; i < list->count; ++i)
    if (strcmp(list->items[i], dir) == 0)
      return 0;
  if (list->count == list->capacity) {
    char **grown = static_cast<char **>(realloc(list->items, sizeof(char *) * static_cast<size_t>(list->capacity + 10)));
    if (!grown) {
      fs_mallocFailed("fs_AddPathToList", 113);
      return -1;
    }
    list->items = grown;
    list->capacity += 10;
  }
  size_t n = strlen(dir);
  char *copy = static_cast<char *>(malloc(n + 1));
  if (!copy) {
    fs_mallocFailed("fs_AddPathToList", 128);
    return -1;
  }
  memcpy(copy, dir, n + 1);
  list->items[list->count++] = copy;
  return 0;
}

int fs_CreateAddOnPathList(PathList *list) {
  char path[1024];
  const char *agent = mwa_getagentdir();
  size_t alen = strlen(agent);
  std::string s1 = (alen && agent[alen - 1] == pl_path_sep) ? "" : std::string(1, pl_path_sep);
  if (snprintf(path, sizeof path, "%s%s%s%c%s", agent, s1.c_str(), "config", pl_path_sep,
               "addonpath.properties") >= static_cast<int>(sizeof path))
    return 0;
  if (pl_file_kind(path) != 1)
    return 0;
  int err = 0;
  FILE *fp = pl_file_open(path, "r", 0, &err);
  if (!fp) {
    PutErrorDetail(SV_LINE_SYSCALL, "fs_CreateAddOnPathList", 204, "fopen", err, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(err);
    return 0;
  }
  char *line = static_cast<char *>(malloc(4096));
  if (!line) {
    fclose(fp);
    fs_mallocFailed("fs_CreateAddOnPathList", 176);
    return 0;
  }
  while (fgets(line, 4096, fp)) {
    size_t n = strlen(line);
    if (n && line[n - 1] == '\n')
      line[--n] = '\0';
    if (n && line[n - 1] == '\r') // a CRLF file read on POSIX
      line[--n] = '\0';
    if (n < 5 || n > 526 || strncmp(line, "PATH=", 5) != 0)
      continue;
    if (fs_AddPathToList(line + 5, list) != 0)
      break;
  }
  free(line);
  fclose(fp);
  return list->count;
}

} // namespace

int AddAddOnPath() {
  size_t cap = 4096;
  char *old = static_cast<char *>(malloc(cap));
  if (!old) {
    fs_mallocFailed("AddAddOnPath", 256);
    return 2;
  }
  long n = pl_getenv("PATH", old, cap);
  if (n >= static_cast<long>(cap)) {
    cap = static_cast<size_t>(n) + 1;
    char *bigger = static_cast<char *>(realloc(old, cap));
    if (!bigger) {
      free(old);
      fs_mallocFailed("AddAddOnPath", 256);
      return 2;
    }
    old = bigger;
    n = pl_getenv("PATH", old, cap);
  }
  if (n < 0 || n >= static_cast<long>(cap))
    old[0] = '\0';

  PathList list = {nullptr, 0, 0};
  if (fs_CreateAddOnPathList(&list) == 0) {
    fs_freeList(&list);
    free(old);
    return 0;
  }
  std::string value;
  for (int i = 0; i < list.count; ++i) {
    value += list.items[i];
    value += pl_path_list_sep;
  }
  value += old;
  fs_freeList(&list);
  free(old);
  int rc = pl_setenv("PATH", value.c_str());
  if (rc) {
    PutErrorDetail(SV_LINE_SYSCALL, "AddAddOnPath", 307, "SetEnvironmentVariable", rc, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(rc);
    return 2;
  }
  return 0;
}

int GetCurrentProps_win() {
  char configDir[1024], targetDir[1024];
  const char *install = mwa_getinstalldir();
  snprintf(configDir, sizeof configDir, "%s", install);
  snprintf(targetDir, sizeof targetDir, "%s", install);
  bool ok = mwa_joinpath(configDir, sizeof configDir, "agent") && mwa_joinpath(configDir, sizeof configDir, "config") &&
            mwa_joinpath(targetDir, sizeof targetDir, "etc") &&
            mwa_joinpath(targetDir, sizeof targetDir, "currentprops");
  std::vector<std::string> names;
  int rc = ok ? pl_dir_list(configDir, &names) : ENAMETOOLONG;
  if (rc == 0 && names.empty())
    rc = ENOENT; // nothing to list
  if (rc) {
    PutErrorDetail(SV_LINE_SYSCALL, "GetCurrentProps_win", 329, "FindFirstFile", rc, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(rc);
    return 2;
  }
  for (const std::string &name : names) {
    if (name.find(".properties") == std::string::npos)
      continue;
    char src[1024], dst[1024];
    bool fits = snprintf(src, sizeof src, "%s%c%s", configDir, pl_path_sep, name.c_str()) < static_cast<int>(sizeof src) &&
                snprintf(dst, sizeof dst, "%s%cacs_%s", targetDir, pl_path_sep, name.c_str()) < static_cast<int>(sizeof dst);
    rc = fits ? pl_file_copy(src, dst) : ENAMETOOLONG;
    if (rc) {
      PutErrorDetail(SV_LINE_SYSCALL, "GetCurrentProps_win", 309, "CopyFile", rc, 0, "?", PL_INVALID_SOCKET);
      PutSystemError(rc);
      return 2;
    }
  }
  return 0;
}
