// Child programs run with redirected standard streams: what tests and
// demos use to drive the real programs.
#pragma once

struct PlChild;

struct PlChildSpec {
  const char *const *argv;  // argv[0] is the program's path; null-terminated
  const char *stdin_path;   // null: the null device
  const char *stdout_path;  // null: the null device
  const char *stderr_path;  // null: the null device
  const char *const *env;   // "NAME=VALUE" set for the child; null-terminated or null
};

// 0 or an errno value.
int pl_child_start(const PlChildSpec *spec, PlChild **out);
// Waits up to timeout_ms (-1: without limit). 1 when the child ended
// (*exit_code set), 0 on time-out, -1 on error.
int pl_child_wait(PlChild *child, int timeout_ms, int *exit_code);
// Sends the console interrupt (SIGINT; CTRL_BREAK on Windows). 0 or errno.
int pl_child_interrupt(PlChild *child);
// Sends a termination signal: PL_CHILD_HUP (hang-up) or PL_CHILD_TERM.
// POSIX only; ENOSYS elsewhere.
enum { PL_CHILD_HUP = 1, PL_CHILD_TERM = 15 };
int pl_child_signal(PlChild *child, int which);
// 1 when this platform can deliver pl_child_interrupt reliably.
int pl_child_can_interrupt();
void pl_child_kill(PlChild *child);
// Frees the record; kills the child first if it still runs.
void pl_child_free(PlChild *child);
