#include "platform/proc.h"

#include <cerrno>
#include <cstring>
#include <process.h>
#include <string>

#include "internal.h"
// After windows.h, which it needs.
#include <tlhelp32.h>

int pl_proc_start(const char *cmdline, PlProcInfo *info) {
  std::vector<char> cmd(cmdline, cmdline + strlen(cmdline) + 1);
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return static_cast<int>(GetLastError());
  info->process = reinterpret_cast<intptr_t>(pi.hProcess);
  info->thread = reinterpret_cast<intptr_t>(pi.hThread);
  info->pid = pi.dwProcessId;
  info->tid = pi.dwThreadId;
  return 0;
}

int pl_proc_spawn(const char *program, const char *const *argv, int flags, PlProcInfo *info) {
  std::vector<const char *> av;
  for (const char *const *a = argv; *a; ++a)
    av.push_back(*a);
  // The command interpreter that runs a batch file reads the redirection.
  if (flags & PL_SPAWN_QUIET)
    av.push_back("2>nul");
  av.push_back(nullptr);
  intptr_t h = _spawnv(_P_NOWAIT, program, av.data());
  if (h == -1)
    return errno;
  memset(info, 0, sizeof *info);
  info->process = h;
  info->pid = GetProcessId(reinterpret_cast<HANDLE>(h));
  return 0;
}

int pl_proc_wait(PlProcInfo *info, int timeout_ms, uint32_t *code, const char **op, int *err) {
  HANDLE h = reinterpret_cast<HANDLE>(info->process);
  DWORD r = WaitForSingleObject(h, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (r == WAIT_TIMEOUT)
    return 0;
  if (r != WAIT_OBJECT_0) {
    *op = "WaitForSingleObject";
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  DWORD c;
  if (!GetExitCodeProcess(h, &c)) {
    *op = "GetExitCodeProcess";
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  *code = c;
  return 1;
}

int pl_proc_terminate(PlProcInfo *info) {
  return TerminateProcess(reinterpret_cast<HANDLE>(info->process), 0xFFFFFFFFu) ? 0 : static_cast<int>(GetLastError());
}

void pl_proc_release(PlProcInfo *info) {
  if (info->process)
    CloseHandle(reinterpret_cast<HANDLE>(info->process));
  if (info->thread)
    CloseHandle(reinterpret_cast<HANDLE>(info->thread));
  info->process = 0;
  info->thread = 0;
}

int pl_proc_snapshot(std::vector<PlProcEntry> *out, const char **op, int *err) {
  typedef HANDLE(WINAPI * Snap)(DWORD, DWORD);
  typedef BOOL(WINAPI * Walk)(HANDLE, LPPROCESSENTRY32);
  HMODULE k = LoadLibraryA("kernel32.dll");
  if (!k) {
    *op = "LoadLibrary";
    *err = static_cast<int>(GetLastError());
    return -1;
  }
  Snap snap = reinterpret_cast<Snap>(reinterpret_cast<void *>(GetProcAddress(k, "CreateToolhelp32Snapshot")));
  Walk first = reinterpret_cast<Walk>(reinterpret_cast<void *>(GetProcAddress(k, "Process32First")));
  Walk next = reinterpret_cast<Walk>(reinterpret_cast<void *>(GetProcAddress(k, "Process32Next")));
  int rc = 0;
  if (!snap || !first || !next) {
    *op = "unknown"; // no process list on this system
    *err = 0;
    rc = -1;
  } else {
    HANDLE h = snap(TH32CS_SNAPPROCESS, 0);
    if (h == INVALID_HANDLE_VALUE) {
      *op = "CreateToolhelp32Snapshot";
      *err = static_cast<int>(GetLastError());
      rc = -1;
    } else {
      PROCESSENTRY32 e;
      e.dwSize = sizeof e;
      out->clear();
      if (!first(h, &e)) {
        *op = "Process32First";
        *err = static_cast<int>(GetLastError());
        rc = -1;
      } else {
        for (;;) {
          out->push_back({e.th32ProcessID, e.th32ParentProcessID, e.szExeFile});
          if (!next(h, &e)) {
            DWORD le = GetLastError();
            if (le != ERROR_NO_MORE_FILES) {
              *op = "Process32Next";
              *err = static_cast<int>(le);
              rc = -1;
            }
            break;
          }
        }
      }
      CloseHandle(h);
    }
  }
  FreeLibrary(k);
  return rc;
}

void pl_proc_kill_pid(uint32_t pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h)
    return;
  TerminateProcess(h, 0xFFFFFFFFu);
  CloseHandle(h);
}

int pl_proc_alive(uint32_t pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!h)
    return 0;
  DWORD code = 0;
  BOOL ok = GetExitCodeProcess(h, &code);
  CloseHandle(h);
  return ok && code == STILL_ACTIVE;
}

FILE *pl_popen_read(const char *cmdline) { return _popen(cmdline, "r"); }

int pl_pclose(FILE *pipe) { return _pclose(pipe); }
