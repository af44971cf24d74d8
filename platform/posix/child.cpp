#include "platform/child.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/clock.h"

struct PlChild {
  pid_t pid;
  bool done;
  int code;
};

namespace {

int fs_redirect(posix_spawn_file_actions_t *fa, int fd, const char *path, int oflags) {
  return posix_spawn_file_actions_addopen(fa, fd, path ? path : "/dev/null", oflags, 0644);
}

int fs_decode(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

} // namespace

int pl_child_start(const PlChildSpec *spec, PlChild **out) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  int rc = fs_redirect(&fa, 0, spec->stdin_path, O_RDONLY);
  if (!rc)
    rc = fs_redirect(&fa, 1, spec->stdout_path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!rc)
    rc = fs_redirect(&fa, 2, spec->stderr_path, O_WRONLY | O_CREAT | O_TRUNC);
  if (rc) {
    posix_spawn_file_actions_destroy(&fa);
    return rc;
  }
  // The child's environment: ours with the given variables set.
  extern char **environ;
  char **saved = environ;
  char **envp = environ;
  char **copy = nullptr;
  if (spec->env) {
    size_t n = 0, m = 0;
    while (saved[n])
      ++n;
    while (spec->env[m])
      ++m;
    copy = static_cast<char **>(calloc(n + m + 1, sizeof(char *)));
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
      bool replaced = false;
      for (size_t j = 0; j < m && !replaced; ++j) {
        const char *eq = strchr(spec->env[j], '=');
        size_t len = eq ? static_cast<size_t>(eq - spec->env[j]) : strlen(spec->env[j]);
        replaced = strncmp(saved[i], spec->env[j], len) == 0 && saved[i][len] == '=';
      }
      if (!replaced)
        copy[k++] = saved[i];
    }
    for (size_t j = 0; j < m; ++j)
      copy[k++] = const_cast<char *>(spec->env[j]);
    envp = copy;
  }
  pid_t pid;
  rc = posix_spawn(&pid, spec->argv[0], &fa, nullptr, const_cast<char *const *>(spec->argv), envp);
  posix_spawn_file_actions_destroy(&fa);
  free(copy);
  if (rc)
    return rc;
  *out = new PlChild{pid, false, 0};
  return 0;
}

int pl_child_wait(PlChild *child, int timeout_ms, int *exit_code) {
  uint64_t start = pl_monotonic_ms();
  while (!child->done) {
    int status;
    pid_t r = waitpid(child->pid, &status, timeout_ms < 0 ? 0 : WNOHANG);
    if (r == child->pid) {
      child->done = true;
      child->code = fs_decode(status);
      break;
    }
    if (r < 0 && errno != EINTR)
      return -1;
    if (timeout_ms >= 0 && pl_monotonic_ms() - start >= static_cast<uint64_t>(timeout_ms))
      return 0;
    pl_sleep_ms(10);
  }
  if (exit_code)
    *exit_code = child->code;
  return 1;
}

int pl_child_interrupt(PlChild *child) {
  if (child->done)
    return ESRCH;
  return kill(child->pid, SIGINT) == 0 ? 0 : errno;
}

int pl_child_can_interrupt() { return 1; }

int pl_child_signal(PlChild *child, int which) {
  if (child->done)
    return ESRCH;
  return kill(child->pid, which == PL_CHILD_HUP ? SIGHUP : SIGTERM) == 0 ? 0 : errno;
}

void pl_child_kill(PlChild *child) {
  if (!child->done)
    kill(child->pid, SIGKILL);
}

void pl_child_free(PlChild *child) {
  if (!child)
    return;
  if (!child->done) {
    pl_child_kill(child);
    pl_child_wait(child, -1, nullptr);
  }
  delete child;
}
