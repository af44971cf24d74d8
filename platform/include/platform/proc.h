// Child processes started from a Windows-style command line, and the
// system's list of processes.
#pragma once
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

// What the system says of a started child (all zero: none).
struct PlProcInfo {
  intptr_t process;  // process handle (Windows) or 0
  intptr_t thread;   // main thread handle (Windows) or 0
  uint32_t pid;
  uint32_t tid;
};

// Starts cmdline (the first word names the program) with handle
// inheritance on and the window hidden. On POSIX the line is split by
// the Windows C runtime's rules and run without a shell. 0 or the
// system's error number (Windows: last-error value; POSIX: errno).
int pl_proc_start(const char *cmdline, PlProcInfo *info);
// Waits up to timeout_ms (-1: without limit). 1 when it ended (*code
// set), 0 on time-out, -1 on error (*err set; *op names the call).
int pl_proc_wait(PlProcInfo *info, int timeout_ms, uint32_t *code, const char **op, int *err);
// Ends the child with exit code 4294967295 (POSIX: SIGKILL). 0 or error.
int pl_proc_terminate(PlProcInfo *info);
// Releases the handles of a child whose end was observed.
void pl_proc_release(PlProcInfo *info);

struct PlProcEntry {
  uint32_t pid;
  uint32_t ppid;
  std::string exe; // executable file name, without folder ("" for a zombie)
};
// Every process of the system at one moment. 0, or -1 with *op naming
// the failed call ("LoadLibrary", "CreateToolhelp32Snapshot",
// "Process32First", "Process32Next") and *err its error; *err 0 when the
// system offers no process list at all.
int pl_proc_snapshot(std::vector<PlProcEntry> *out, const char **op, int *err);
// Ends a process by id with exit code 4294967295; silently nothing when
// it cannot be opened.
void pl_proc_kill_pid(uint32_t pid);
// 1 while the process runs (a zombie on POSIX counts as ended).
int pl_proc_alive(uint32_t pid);
// Starts program with argv, without waiting, as the C runtime's spawn
// does: a program named without an extension is also looked for with
// the usual program extensions (POSIX: the script suffix), and a script
// is run by the system's interpreter for it. PL_SPAWN_QUIET sends the
// child's standard error to the null device. 0 or the C runtime's error
// number.
enum { PL_SPAWN_QUIET = 1 };
int pl_proc_spawn(const char *program, const char *const *argv, int flags, PlProcInfo *info);
// Splits a command line by the Windows C runtime's rules.
std::vector<std::string> pl_split_command_line(const char *cmdline);

// Runs cmdline through the system's command interpreter (sh -c; cmd /c)
// with its standard output on a pipe the caller reads. Null when it
// cannot be started.
FILE *pl_popen_read(const char *cmdline);
// Waits for the command; its exit status, or -1.
int pl_pclose(FILE *pipe);
