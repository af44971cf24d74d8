#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "mwa_process.h"

static const char fs_moduleName[] = "mwa_process_win";

MwaProcess *MwaProcess_new(MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  MwaProcess *p = static_cast<MwaProcess *>(calloc(1, sizeof(MwaProcess)));
  if (!p && pErrorInfo)
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
  return p;
}

void MwaProcess_free(MwaProcess *process) {
  MWA_CHECK(process != NULL);
  if (!process)
    return;
  pl_proc_release(&process->pi);
  free(process);
}

size_t mwa_quoteArg(const char *arg, size_t length, char *out) {
  bool quote = memchr(arg, ' ', length) || memchr(arg, '\t', length);
  size_t n = 0;
  if (quote)
    out[n++] = '"';
  for (size_t i = 0; i < length;) {
    size_t slashes = 0;
    while (i < length && arg[i] == '\\') {
      ++slashes;
      ++i;
    }
    bool beforeQuote = i < length && arg[i] == '"';
    bool beforeClose = i == length && quote;
    size_t copies = (beforeQuote || beforeClose) ? slashes * 2 : slashes;
    memset(out + n, '\\', copies);
    n += copies;
    if (i < length) {
      if (arg[i] == '"')
        out[n++] = '\\';
      out[n++] = arg[i++];
    }
  }
  if (quote)
    out[n++] = '"';
  MWA_CHECK(n <= length * 2 + 2);
  return n;
}

char *mwa_buildCommandLine(const char *const *args, MwaErrorInfo *pErrorInfo) {
  size_t room = 1, scratchSize = 0;
  for (const char *const *a = args; *a; ++a) {
    size_t need = 2 * strlen(*a) + 3;
    room += need;
    if (need > scratchSize)
      scratchSize = need;
  }
  char *cmd = static_cast<char *>(malloc(room));
  char *scratch = static_cast<char *>(malloc(scratchSize + 1));
  if (!cmd || !scratch) {
    free(cmd);
    free(scratch);
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
    return nullptr;
  }
  char *p = cmd;
  for (const char *const *a = args; *a; ++a) {
    if (a != args)
      *p++ = ' ';
    size_t n = mwa_quoteArg(*a, strlen(*a), scratch);
    memcpy(p, scratch, n);
    p += n;
    MWA_CHECK(static_cast<size_t>(p - cmd) < room);
  }
  *p = '\0';
  free(scratch);
  return cmd;
}

int MwaProcess_start(MwaProcess *process, const char *const *args, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(process != NULL);
  MWA_CHECK(args != NULL);
  MWA_CHECK(process->pi.process == 0);
  char *cmd = mwa_buildCommandLine(args, pErrorInfo);
  if (!cmd)
    return 0;
  int rc = pl_proc_start(cmd, &process->pi);
  free(cmd);
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "CreateProcess", rc);
    return 0;
  }
  return 1;
}

// Observes the child's end: 1 ended (or none attached), 0 runs, -1 failed.
static int fs_observe(MwaProcess *process, int timeout, MwaErrorInfo *pErrorInfo) {
  if (process->pi.process == 0)
    return 1;
  uint32_t code = 0;
  const char *op = "unknown";
  int err = 0;
  int r = pl_proc_wait(&process->pi, timeout, &code, &op, &err);
  if (r < 0) {
    MwaErrorInfo_set(pErrorInfo, op, err);
    return -1;
  }
  if (r == 0)
    return 0;
  process->exitCode = code;
  pl_proc_release(&process->pi);
  return 1;
}

int MwaProcess_isRunning(MwaProcess *process, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(process != NULL);
  MWA_CHECK(pErrorInfo != NULL);
  return fs_observe(process, 0, pErrorInfo) == 0 ? 1 : 0;
}

int MwaProcess_waitEnd(MwaProcess *process, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(process != NULL);
  MWA_CHECK(pErrorInfo != NULL);
  return fs_observe(process, -1, pErrorInfo) == 1 ? 1 : 0;
}

int MwaProcess_terminate(MwaProcess *process, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(process != NULL);
  MWA_CHECK(pErrorInfo != NULL);
  if (process->pi.process == 0)
    return 1;
  int rc = pl_proc_terminate(&process->pi);
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "TerminateProcess", rc);
    return 0;
  }
  return 1;
}

int mwa_listProcesses(ProcessEntryArray *list, MwaErrorInfo *pErrorInfo) {
  std::vector<PlProcEntry> entries;
  const char *op = "unknown";
  int err = 0;
  if (pl_proc_snapshot(&entries, &op, &err) != 0) {
    if (err == 0)
      MwaErrorInfo_clear(pErrorInfo);
    else
      MwaErrorInfo_set(pErrorInfo, op, err);
    return 0;
  }
  for (const PlProcEntry &e : entries) {
    MwaProcessEntry x = {e.pid, e.ppid};
    if (!ProcessEntryArray_pushBack(list, &x)) {
      MwaErrorInfo_set(pErrorInfo, "ProcessEntryArray_pushBack", 8);
      return 0;
    }
  }
  return 1;
}

static void fs_killDescendants(ProcessEntryArray *list, uint32_t pid, std::set<uint32_t> *seen) {
  MwaProcessEntry *e = ProcessEntryArray_getBuffer(list);
  int32_t n = ProcessEntryArray_getSize(list);
  for (int32_t i = 0; i < n; ++i) {
    if (e[i].ppid != pid || e[i].pid == pid || !seen->insert(e[i].pid).second)
      continue;
    fs_killDescendants(list, e[i].pid, seen);
    pl_proc_kill_pid(e[i].pid);
  }
}

void mwa_killDescendants(ProcessEntryArray *list, uint32_t pid) {
  std::set<uint32_t> seen = {pid};
  fs_killDescendants(list, pid, &seen);
}

int MwaProcess_killTree(MwaProcess *process, MwaErrorInfo *pErrorInfo) {
  if (process->pi.pid == 0)
    return 1;
  ProcessEntryArray *list = ProcessEntryArray_new();
  if (!list) {
    MwaErrorInfo_set(pErrorInfo, "ProcessEntryArray_new", 0);
    return 0;
  }
  int result;
  if (mwa_listProcesses(list, pErrorInfo)) {
    mwa_killDescendants(list, process->pi.pid);
    result = MwaProcess_terminate(process, pErrorInfo);
  } else if (pErrorInfo->err == 0) {
    result = MwaProcess_terminate(process, pErrorInfo);
  } else {
    result = 0;
  }
  ProcessEntryArray_free(list);
  return result;
}
