#include "platform/child.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

struct PlChild {
  PROCESS_INFORMATION pi;
  bool done;
  int code;
};

namespace {

// One argument in the quoting the C runtime's parser undoes.
void fs_quoteArg(std::string *cmd, const char *arg) {
  if (*arg && !strpbrk(arg, " \t\n\v\"")) {
    *cmd += arg;
    return;
  }
  *cmd += '"';
  for (const char *p = arg;; ++p) {
    size_t slashes = 0;
    while (*p == '\\') {
      ++p;
      ++slashes;
    }
    if (!*p) {
      cmd->append(slashes * 2, '\\');
      break;
    }
    if (*p == '"') {
      cmd->append(slashes * 2 + 1, '\\');
      *cmd += '"';
    } else {
      cmd->append(slashes, '\\');
      *cmd += *p;
    }
  }
  *cmd += '"';
}

HANDLE fs_openStd(const char *path, bool input) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path ? path : "NUL", input ? GENERIC_READ : GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                     input ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Our environment block with the given variables set.
std::vector<char> fs_envBlock(const char *const *env) {
  std::vector<std::string> vars;
  char *block = GetEnvironmentStringsA();
  for (char *p = block; p && *p; p += strlen(p) + 1) {
    bool replaced = false;
    for (const char *const *e = env; *e && !replaced; ++e) {
      const char *eq = strchr(*e, '=');
      size_t len = eq ? static_cast<size_t>(eq - *e) : strlen(*e);
      replaced = _strnicmp(p, *e, len) == 0 && p[len] == '=';
    }
    if (!replaced)
      vars.push_back(p);
  }
  if (block)
    FreeEnvironmentStringsA(block);
  for (const char *const *e = env; *e; ++e)
    vars.push_back(*e);
  std::vector<char> out;
  for (const std::string &v : vars)
    out.insert(out.end(), v.c_str(), v.c_str() + v.size() + 1);
  out.push_back('\0');
  return out;
}

} // namespace

int pl_child_start(const PlChildSpec *spec, PlChild **out) {
  std::string cmd;
  for (const char *const *a = spec->argv; *a; ++a) {
    if (a != spec->argv)
      cmd += ' ';
    fs_quoteArg(&cmd, *a);
  }
  HANDLE in = fs_openStd(spec->stdin_path, true);
  HANDLE o = fs_openStd(spec->stdout_path, false);
  HANDLE e = fs_openStd(spec->stderr_path, false);
  if (in == INVALID_HANDLE_VALUE || o == INVALID_HANDLE_VALUE || e == INVALID_HANDLE_VALUE) {
    int err = pl_win_errno(GetLastError());
    for (HANDLE h : {in, o, e})
      if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return err;
  }
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = o;
  si.hStdError = e;
  std::vector<char> envBlock;
  if (spec->env)
    envBlock = fs_envBlock(spec->env);
  std::vector<char> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back('\0');
  PROCESS_INFORMATION pi;
  BOOL ok = CreateProcessA(spec->argv[0], cmdBuf.data(), nullptr, nullptr, TRUE,
                           CREATE_NEW_PROCESS_GROUP, spec->env ? envBlock.data() : nullptr,
                           nullptr, &si, &pi);
  int err = ok ? 0 : pl_win_errno(GetLastError());
  CloseHandle(in);
  CloseHandle(o);
  CloseHandle(e);
  if (!ok)
    return err;
  *out = new PlChild{pi, false, 0};
  return 0;
}

int pl_child_wait(PlChild *child, int timeout_ms, int *exit_code) {
  if (!child->done) {
    DWORD r = WaitForSingleObject(child->pi.hProcess, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (r == WAIT_TIMEOUT)
      return 0;
    if (r != WAIT_OBJECT_0)
      return -1;
    DWORD code = 0;
    GetExitCodeProcess(child->pi.hProcess, &code);
    child->done = true;
    child->code = static_cast<int>(code);
  }
  if (exit_code)
    *exit_code = child->code;
  return 1;
}

int pl_child_interrupt(PlChild *child) {
  return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child->pi.dwProcessId) ? 0 : pl_win_errno(GetLastError());
}

// Console events need a console shared with the child, which a test run
// under wine does not have.
int pl_child_can_interrupt() { return 0; }

int pl_child_signal(PlChild *, int) { return ENOSYS; }

void pl_child_kill(PlChild *child) {
  if (!child->done)
    TerminateProcess(child->pi.hProcess, 137);
}

void pl_child_free(PlChild *child) {
  if (!child)
    return;
  if (!child->done) {
    pl_child_kill(child);
    pl_child_wait(child, -1, nullptr);
  }
  CloseHandle(child->pi.hProcess);
  CloseHandle(child->pi.hThread);
  delete child;
}
