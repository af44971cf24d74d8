#include "platform/proc.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/clock.h"

extern char **environ;

int pl_proc_start(const char *cmdline, PlProcInfo *info) {
  std::vector<std::string> args = pl_split_command_line(cmdline);
  if (args.empty())
    return EINVAL;
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc)
    return rc;
  memset(info, 0, sizeof *info);
  info->pid = static_cast<uint32_t>(pid);
  info->process = 1; // a child is attached
  return 0;
}

int pl_proc_spawn(const char *program, const char *const *argv, int flags, PlProcInfo *info) {
  std::string path = program;
  if (access(path.c_str(), X_OK) != 0 && path.find('.', path.rfind('/') + 1) == std::string::npos &&
      access((path + ".sh").c_str(), X_OK) == 0)
    path += ".sh";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (flags & PL_SPAWN_QUIET)
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc)
    return rc;
  memset(info, 0, sizeof *info);
  info->pid = static_cast<uint32_t>(pid);
  info->process = 1;
  return 0;
}

int pl_proc_wait(PlProcInfo *info, int timeout_ms, uint32_t *code, const char **op, int *err) {
  uint64_t start = pl_monotonic_ms();
  for (;;) {
    int status;
    pid_t r = waitpid(static_cast<pid_t>(info->pid), &status, timeout_ms < 0 ? 0 : WNOHANG);
    if (r == static_cast<pid_t>(info->pid)) {
      *code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                : 0xFFFFFFFFu; // ended by a signal
      return 1;
    }
    if (r < 0 && errno != EINTR) {
      *op = "WaitForSingleObject";
      *err = errno;
      return -1;
    }
    if (timeout_ms >= 0 && pl_monotonic_ms() - start >= static_cast<uint64_t>(timeout_ms))
      return 0;
    if (timeout_ms > 0)
      pl_sleep_ms(5);
  }
}

int pl_proc_terminate(PlProcInfo *info) {
  return kill(static_cast<pid_t>(info->pid), SIGKILL) == 0 ? 0 : errno;
}

void pl_proc_release(PlProcInfo *info) {
  info->process = 0;
  info->thread = 0;
}

int pl_proc_snapshot(std::vector<PlProcEntry> *out, const char **op, int *err) {
  DIR *d = opendir("/proc");
  if (!d) {
    *op = "CreateToolhelp32Snapshot";
    *err = errno;
    return -1;
  }
  out->clear();
  while (struct dirent *e = readdir(d)) {
    char *end;
    unsigned long pid = strtoul(e->d_name, &end, 10);
    if (*end || pid == 0)
      continue;
    char path[64], buf[512];
    snprintf(path, sizeof path, "/proc/%lu/stat", pid);
    FILE *fp = fopen(path, "r");
    if (!fp)
      continue; // ended meanwhile
    size_t n = fread(buf, 1, sizeof buf - 1, fp);
    fclose(fp);
    buf[n] = '\0';
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
    const char *close = strrchr(buf, ')');
    char state;
    unsigned long ppid;
    if (!close || sscanf(close + 1, " %c %lu", &state, &ppid) != 2)
      continue;
    const char *open = strchr(buf, '(');
    std::string exe = state == 'Z' || !open ? "" : std::string(open + 1, close);
    out->push_back({static_cast<uint32_t>(pid), static_cast<uint32_t>(ppid), exe});
  }
  closedir(d);
  return 0;
}

void pl_proc_kill_pid(uint32_t pid) {
  if (pid > 1)
    kill(static_cast<pid_t>(pid), SIGKILL);
}

int pl_proc_alive(uint32_t pid) {
  char path[64], buf[512];
  snprintf(path, sizeof path, "/proc/%lu/stat", static_cast<unsigned long>(pid));
  FILE *fp = fopen(path, "r");
  if (!fp)
    return 0;
  size_t n = fread(buf, 1, sizeof buf - 1, fp);
  fclose(fp);
  buf[n] = '\0';
  const char *close = strrchr(buf, ')');
  return close && close[1] == ' ' && close[2] != 'Z' && close[2] != 'X';
}

FILE *pl_popen_read(const char *cmdline) { return popen(cmdline, "r"); }

int pl_pclose(FILE *pipe) {
  int st = pclose(pipe);
  if (st < 0)
    return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
