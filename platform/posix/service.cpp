// Service manager stand-in (docs/ARCHITECTURE.md). Definitions live in
// the registry stand-in under SYSTEM\CurrentControlSet\Services. Starting
// a service forks a monitor for it: a detached process that runs the
// program, hands it the start arguments over a private channel, serves
// controls on a socket in the runtime directory, keeps the last reported
// status in a file there, and records the end of the process. There is
// no manager daemon: the monitor lives exactly as long as its service.
#include "platform/service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/proc.h"
#include "platform/registry.h"

struct PlScHandleRec {
  int is_manager;
  std::string name;
};

namespace {

const char fs_servicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
const char fs_fdVar[] = "TOVX_SCM_FD";
const uint32_t fs_magic = 0x54534d31; // "TSM1"

// Channel and control-socket messages.
enum { MSG_HELLO = 1, MSG_START, MSG_STATUS, MSG_CONTROL, MSG_DONE, MSG_REPLY };
struct ScMsg {
  uint32_t magic;
  uint32_t kind;
  uint32_t code; // control code, error, or argument count
  PlServiceStatus st;
  char data[4096]; // start arguments, NUL-separated
};

// --- runtime directory and per-service file names ---

int fs_runDir(std::string *out) {
  const char *e = getenv("TOVX_SCM_RUN");
  if (e && *e) {
    *out = e;
  } else if (geteuid() == 0) {
    *out = "/run/tovx-scm";
  } else {
    const char *t = getenv("TMPDIR");
    *out = std::string(t && *t ? t : "/tmp") + "/tovx-scm-" + std::to_string(geteuid());
  }
  if (mkdir(out->c_str(), 0700) != 0 && errno != EEXIST)
    return PL_SVC_ERR_ACCESS_DENIED;
  struct stat sb;
  // Sockets and status files are trusted only in a folder of our own.
  if (lstat(out->c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode) || sb.st_uid != geteuid() || (sb.st_mode & 077))
    return PL_SVC_ERR_ACCESS_DENIED;
  return 0;
}

// Service names are case-insensitive; the file name is the lower-cased
// name with anything but letters, digits, '.', '_' and '-' as %XX.
std::string fs_fileKey(const std::string &name) {
  std::string k;
  for (unsigned char c : name) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<unsigned char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
      k += static_cast<char>(c);
    } else {
      char h[4];
      snprintf(h, sizeof h, "%%%02X", c);
      k += h;
    }
  }
  return k;
}

struct SvcPaths {
  std::string sock, status, lock;
};

int fs_paths(const std::string &name, SvcPaths *p) {
  std::string dir;
  int rc = fs_runDir(&dir);
  if (rc)
    return rc;
  std::string base = dir + "/" + fs_fileKey(name);
  p->sock = base + ".sock";
  p->status = base + ".status";
  p->lock = base + ".lock";
  if (p->sock.size() >= sizeof(sockaddr_un{}.sun_path))
    return 206; // ERROR_FILENAME_EXCED_RANGE
  return 0;
}

int fs_validName(const char *name) {
  size_t n = name ? strlen(name) : 0;
  return n > 0 && n <= 256 && !strchr(name, '\\') && !strchr(name, '/');
}

// --- the definition in the registry ---

int fs_openKey(const std::string &name, int access, PlHkey *out) {
  std::string sub = std::string(fs_servicesKey) + "\\" + name;
  int rc = pl_reg_open(pl_reg_root(PL_HKLM), sub.c_str(), access, out);
  return rc == PL_ERR_FILE_NOT_FOUND ? PL_SVC_ERR_DOES_NOT_EXIST : rc;
}

// The definition of a service handle's service.
int fs_serviceKey(PlScHandle svc, int access, PlHkey *out) {
  if (!svc || svc->is_manager)
    return PL_SVC_ERR_INVALID_HANDLE;
  return fs_openKey(svc->name, access, out);
}

int fs_getString(PlHkey k, const char *value, char *buf, uint32_t size) {
  uint32_t type = 0, len = size - 1;
  int rc = pl_reg_query_value(k, value, &type, buf, &len);
  if (rc)
    return rc;
  buf[len < size ? len : size - 1] = '\0';
  return 0;
}

uint32_t fs_getDword(PlHkey k, const char *value, uint32_t deflt) {
  uint32_t type = 0, v = 0, len = sizeof v;
  if (pl_reg_query_value(k, value, &type, &v, &len) || type != PL_REG_DWORD)
    return deflt;
  return v;
}

int fs_setString(PlHkey k, const char *value, uint32_t type, const char *s) {
  return pl_reg_set_value(k, value, type, s, static_cast<uint32_t>(strlen(s) + 1));
}

int fs_setDword(PlHkey k, const char *value, uint32_t v) {
  return pl_reg_set_value(k, value, PL_REG_DWORD, &v, sizeof v);
}

int fs_deleteDefinition(const std::string &name) {
  PlHkey k;
  if (fs_openKey(name, PL_REG_ALL, &k) == 0) {
    std::vector<std::string> subs;
    char sub[260];
    for (uint32_t i = 0;; ++i) {
      uint32_t len = sizeof sub;
      if (pl_reg_enum_key(k, i, sub, &len))
        break;
      subs.push_back(sub);
    }
    for (const std::string &s : subs)
      pl_reg_delete_key(k, s.c_str(), 0);
    pl_reg_close(k);
  }
  PlHkey parent;
  int rc = pl_reg_open(pl_reg_root(PL_HKLM), fs_servicesKey, PL_REG_ALL, &parent);
  if (rc)
    return rc;
  rc = pl_reg_delete_key(parent, name.c_str(), 0);
  pl_reg_close(parent);
  return rc;
}

// --- the status file: "TOVXSVC 1" then the seven status fields ---

void fs_writeStatus(const std::string &path, const PlServiceStatus &s) {
  std::string tmp = path + ".tmp";
  FILE *f = fopen(tmp.c_str(), "w");
  if (!f)
    return;
  fprintf(f, "TOVXSVC 1\n%u %u %u %u %u %u %u\n", s.service_type, s.current_state, s.controls_accepted,
          s.win32_exit_code, s.service_exit_code, s.check_point, s.wait_hint);
  if (fclose(f) == 0)
    rename(tmp.c_str(), path.c_str());
  else
    unlink(tmp.c_str());
}

void fs_stoppedStatus(PlServiceStatus *s) {
  memset(s, 0, sizeof *s);
  s->service_type = PL_SVC_WIN32_OWN_PROCESS;
  s->current_state = PL_SVC_STOPPED;
}

// A control socket and the address of path (which fs_paths keeps short
// enough).
int fs_socket(const std::string &path, sockaddr_un *a) {
  memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  snprintf(a->sun_path, sizeof a->sun_path, "%s", path.c_str());
  return socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
}

int fs_connect(const std::string &path) {
  sockaddr_un a;
  int fd = fs_socket(path, &a);
  if (fd < 0)
    return -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The status as last reported; stopped when no monitor answers any more.
void fs_readStatus(const SvcPaths &p, PlServiceStatus *s) {
  fs_stoppedStatus(s);
  FILE *f = fopen(p.status.c_str(), "r");
  if (!f)
    return;
  PlServiceStatus r;
  if (fscanf(f, "TOVXSVC 1\n%u %u %u %u %u %u %u", &r.service_type, &r.current_state, &r.controls_accepted,
             &r.win32_exit_code, &r.service_exit_code, &r.check_point, &r.wait_hint) == 7)
    *s = r;
  fclose(f);
  if (s->current_state != PL_SVC_STOPPED) {
    int fd = fs_connect(p.sock);
    if (fd < 0) {
      s->current_state = PL_SVC_STOPPED;
      s->win32_exit_code = PL_SVC_ERR_PROCESS_ABORTED;
    } else {
      close(fd);
    }
  }
}

bool fs_send(int fd, const ScMsg &m) {
  size_t len = offsetof(ScMsg, data) + (m.kind == MSG_START || m.kind == MSG_HELLO ? sizeof m.data : 0);
  return send(fd, &m, len, MSG_NOSIGNAL) == static_cast<ssize_t>(len);
}

// Receives one message within timeout_ms (-1: no limit): 1, 0 at the end
// of the channel or on a malformed message, -1 on time-out.
int fs_recv(int fd, ScMsg *m, int timeout_ms) {
  pollfd pfd = {fd, POLLIN, 0};
  int r;
  do
    r = poll(&pfd, 1, timeout_ms);
  while (r < 0 && errno == EINTR);
  if (r == 0)
    return -1;
  ssize_t n = recv(fd, m, sizeof *m, 0);
  if (n < static_cast<ssize_t>(offsetof(ScMsg, data)) || m->magic != fs_magic)
    return 0;
  if (n < static_cast<ssize_t>(sizeof *m))
    memset(reinterpret_cast<char *>(m) + n, 0, sizeof *m - static_cast<size_t>(n));
  m->data[sizeof m->data - 1] = '\0';
  return 1;
}

ScMsg fs_msg(uint32_t kind, uint32_t code) {
  ScMsg m;
  memset(&m, 0, offsetof(ScMsg, data));
  m.magic = fs_magic;
  m.kind = kind;
  m.code = code;
  return m;
}

long fs_nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

int fs_startLimitMs() {
  const char *e = getenv("TOVX_SCM_START_LIMIT_MS");
  int v = e ? atoi(e) : 0;
  return v > 0 ? v : 30000;
}

// --- the monitor ---

struct Monitor {
  std::string name;
  SvcPaths paths;
  int listenFd = -1;
  int chan = -1;
  pid_t child = 0;
  PlServiceStatus st;
  bool ended = false;
  int exitStatus = 0;
};

bool fs_reap(Monitor *m, bool block) {
  if (m->ended)
    return true;
  int ws;
  pid_t r;
  do
    r = waitpid(m->child, &ws, block ? 0 : WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r == m->child || (r < 0 && errno == ECHILD))
    m->ended = true;
  return m->ended;
}

void fs_onStatus(Monitor *m, const ScMsg &msg) {
  m->st = msg.st;
  fs_writeStatus(m->paths.status, m->st);
}

// Serves one controller: checks who it is and whether the service takes
// the control now, hands it to the service and answers with the status
// after the handler has run.
void fs_serveControl(Monitor *m, int fd) {
  ScMsg req, rep = fs_msg(MSG_REPLY, 0);
  ucred cred;
  socklen_t cl = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &cl) != 0 || (cred.uid != geteuid() && cred.uid != 0)) {
    rep.code = PL_SVC_ERR_ACCESS_DENIED;
  } else if (fs_recv(fd, &req, 5000) != 1 || req.kind != MSG_CONTROL) {
    close(fd);
    return;
  } else {
    uint32_t c = req.code;
    uint32_t s = m->st.current_state;
    bool accepted = c == PL_SVC_CONTROL_INTERROGATE ||
                    (c == PL_SVC_CONTROL_STOP && (m->st.controls_accepted & PL_SVC_ACCEPT_STOP)) ||
                    (c == PL_SVC_CONTROL_SHUTDOWN && (m->st.controls_accepted & PL_SVC_ACCEPT_SHUTDOWN));
    if (s == PL_SVC_STOPPED)
      rep.code = PL_SVC_ERR_NOT_ACTIVE;
    else if (c != PL_SVC_CONTROL_INTERROGATE && (s == PL_SVC_START_PENDING || s == PL_SVC_STOP_PENDING))
      rep.code = PL_SVC_ERR_CANNOT_ACCEPT_CTRL;
    else if (!accepted)
      rep.code = PL_SVC_ERR_INVALID_SERVICE_CONTROL;
    else if (!fs_send(m->chan, fs_msg(MSG_CONTROL, c)))
      rep.code = PL_SVC_ERR_NOT_ACTIVE;
    else {
      long deadline = fs_nowMs() + 30000;
      for (;;) {
        ScMsg in;
        long left = deadline - fs_nowMs();
        int r = fs_recv(m->chan, &in, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0) {
          rep.code = PL_SVC_ERR_REQUEST_TIMEOUT;
          break;
        }
        if (r == 0) {
          rep.code = PL_SVC_ERR_NOT_ACTIVE;
          break;
        }
        if (in.kind == MSG_STATUS)
          fs_onStatus(m, in);
        else if (in.kind == MSG_DONE)
          break;
      }
    }
  }
  rep.st = m->st;
  fs_send(fd, rep);
  close(fd);
}

void fs_runMonitor(Monitor *m) {
  for (;;) {
    pollfd pf[2] = {{m->listenFd, POLLIN, 0}, {m->chan, POLLIN, 0}};
    int r = poll(pf, m->chan >= 0 ? 2 : 1, 200);
    if (r < 0 && errno != EINTR)
      break;
    if (r > 0 && (pf[1].revents & (POLLIN | POLLHUP))) {
      ScMsg in;
      if (fs_recv(m->chan, &in, 0) == 1) {
        if (in.kind == MSG_STATUS)
          fs_onStatus(m, in);
      } else {
        close(m->chan);
        m->chan = -1;
      }
    }
    if (r > 0 && (pf[0].revents & POLLIN)) {
      int fd = accept4(m->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0)
        fs_serveControl(m, fd);
    }
    if (fs_reap(m, m->chan < 0))
      break;
  }
  // Reports still queued on the channel count: the last one may be the
  // stopped state.
  ScMsg in;
  while (m->chan >= 0 && fs_recv(m->chan, &in, 0) == 1)
    if (in.kind == MSG_STATUS)
      m->st = in.st;
  if (m->st.current_state != PL_SVC_STOPPED) {
    m->st.current_state = PL_SVC_STOPPED;
    m->st.win32_exit_code = PL_SVC_ERR_PROCESS_ABORTED;
  }
  m->st.controls_accepted = 0;
  fs_writeStatus(m->paths.status, m->st);
  unlink(m->paths.sock.c_str());
  PlHkey k;
  if (fs_openKey(m->name, PL_REG_READ, &k) == 0) {
    bool del = fs_getDword(k, "DeleteFlag", 0) != 0;
    pl_reg_close(k);
    if (del)
      fs_deleteDefinition(m->name);
  }
}

int fs_listen(const std::string &path) {
  sockaddr_un a;
  int fd = fs_socket(path, &a);
  if (fd < 0)
    return -1;
  unlink(path.c_str());
  mode_t old = umask(077);
  int rc = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  umask(old);
  if (rc != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void fs_report(int fd, int result) {
  if (fd < 0)
    return;
  ssize_t w = write(fd, &result, sizeof result);
  (void)w;
  close(fd);
}

// A start that failed: recorded as stopped before the starter hears of
// it, so that its next query agrees.
void fs_failStart(Monitor *m, int report_fd, int error) {
  fs_stoppedStatus(&m->st);
  fs_writeStatus(m->paths.status, m->st);
  unlink(m->paths.sock.c_str());
  fs_report(report_fd, error);
}

// Runs in the monitor process; reports the start's outcome on report_fd
// and returns when the service has ended.
void fs_monitorMain(Monitor *m, const std::vector<std::string> &image, const std::vector<std::string> &args,
                     int report_fd) {
  fs_stoppedStatus(&m->st);
  m->listenFd = fs_listen(m->paths.sock);
  int ch[2], ex[2];
  if (m->listenFd < 0 || socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ch) != 0 ||
      pipe2(ex, O_CLOEXEC) != 0) {
    fs_report(report_fd, PL_SVC_ERR_ACCESS_DENIED);
    return;
  }
  m->st.current_state = PL_SVC_START_PENDING;
  fs_writeStatus(m->paths.status, m->st);
  m->child = fork();
  if (m->child == 0) {
    int nul = open("/dev/null", O_RDWR);
    dup2(nul, 0);
    dup2(nul, 1);
    dup2(nul, 2);
    int fd = dup(ch[1]); // without close-on-exec: the program's channel
    char v[16];
    snprintf(v, sizeof v, "%d", fd);
    setenv(fs_fdVar, v, 1);
    std::vector<char *> av;
    for (const std::string &s : image)
      av.push_back(const_cast<char *>(s.c_str()));
    av.push_back(nullptr);
    execv(av[0], av.data());
    int e = errno;
    ssize_t w = write(ex[1], &e, sizeof e);
    (void)w;
    _exit(127);
  }
  close(ch[1]);
  close(ex[1]);
  m->chan = ch[0];
  int execErr = 0;
  if (m->child < 0 || read(ex[0], &execErr, sizeof execErr) == sizeof execErr) {
    close(ex[0]);
    if (m->child > 0)
      fs_reap(m, true);
    fs_failStart(m, report_fd, execErr == EACCES ? PL_SVC_ERR_ACCESS_DENIED : PL_SVC_ERR_FILE_NOT_FOUND);
    return;
  }
  close(ex[0]);
  // The program must reach its dispatcher within the start limit.
  ScMsg in;
  int r = fs_recv(m->chan, &in, fs_startLimitMs());
  if (r != 1 || in.kind != MSG_HELLO) {
    kill(m->child, SIGKILL);
    fs_reap(m, true);
    fs_failStart(m, report_fd, PL_SVC_ERR_REQUEST_TIMEOUT);
    return;
  }
  ScMsg start = fs_msg(MSG_START, static_cast<uint32_t>(args.size()));
  size_t off = 0;
  for (const std::string &a : args) {
    if (off + a.size() + 1 > sizeof start.data)
      break;
    memcpy(start.data + off, a.c_str(), a.size() + 1);
    off += a.size() + 1;
  }
  fs_send(m->chan, start);
  fs_report(report_fd, 0);
  fs_runMonitor(m);
}

// --- the dispatcher, in the service program ---

std::mutex fs_chanLock;
int fs_chan = -1;
void (*fs_handler)(uint32_t);
std::string fs_dispatchName;

void fs_controlThread() {
  for (;;) {
    ScMsg in;
    if (fs_recv(fs_chan, &in, -1) != 1)
      return;
    if (in.kind != MSG_CONTROL)
      continue;
    if (fs_handler)
      fs_handler(in.code);
    std::lock_guard<std::mutex> g(fs_chanLock);
    fs_send(fs_chan, fs_msg(MSG_DONE, in.code));
  }
}

} // namespace

int pl_service_dispatch(const char *name, void (*service_main)(int, char **)) {
  const char *v = getenv(fs_fdVar);
  char *end = nullptr;
  long fd = v ? strtol(v, &end, 10) : -1;
  struct stat sb;
  if (!v || *end || fd < 0 || fd > 65535 || fstat(static_cast<int>(fd), &sb) != 0 || !S_ISSOCK(sb.st_mode))
    return PL_SVC_ERR_CONTROLLER_CONNECT;
  // The channel is the service's own, not its children's.
  unsetenv(fs_fdVar);
  fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  fs_chan = static_cast<int>(fd);
  fs_dispatchName = name;
  ScMsg hello = fs_msg(MSG_HELLO, 0);
  snprintf(hello.data, sizeof hello.data, "%s", name);
  ScMsg start;
  if (!fs_send(fs_chan, hello) || fs_recv(fs_chan, &start, -1) != 1 || start.kind != MSG_START)
    return PL_SVC_ERR_CONTROLLER_CONNECT;
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(fs_dispatchName.c_str()));
  size_t off = 0;
  for (uint32_t i = 0; i < start.code && off < sizeof start.data; ++i) {
    argv.push_back(start.data + off);
    off += strlen(start.data + off) + 1;
  }
  argv.push_back(nullptr);
  std::thread(fs_controlThread).detach();
  service_main(static_cast<int>(argv.size() - 1), argv.data());
  return 0;
}

PlServiceStatusHandle pl_service_register_handler(const char *name, void (*handler)(uint32_t), int *err) {
  if (fs_chan < 0) {
    *err = PL_SVC_ERR_CONTROLLER_CONNECT;
    return 0;
  }
  if (strcasecmp(name, fs_dispatchName.c_str()) != 0) {
    *err = PL_SVC_ERR_DOES_NOT_EXIST;
    return 0;
  }
  fs_handler = handler;
  return 1;
}

int pl_service_set_status(PlServiceStatusHandle handle, const PlServiceStatus *status) {
  if (handle != 1 || fs_chan < 0)
    return PL_SVC_ERR_INVALID_HANDLE;
  ScMsg m = fs_msg(MSG_STATUS, 0);
  m.st = *status;
  std::lock_guard<std::mutex> g(fs_chanLock);
  return fs_send(fs_chan, m) ? 0 : PL_SVC_ERR_INVALID_HANDLE;
}

// --- the controlling side ---

int pl_scm_open(PlScHandle *out) {
  *out = new PlScHandleRec{1, ""};
  return 0;
}

int pl_svc_open(PlScHandle scm, const char *name, PlScHandle *out) {
  if (!scm || !scm->is_manager)
    return PL_SVC_ERR_INVALID_HANDLE;
  if (!fs_validName(name))
    return PL_SVC_ERR_INVALID_NAME;
  PlHkey k;
  int rc = fs_openKey(name, PL_REG_READ, &k);
  if (rc)
    return rc;
  pl_reg_close(k);
  *out = new PlScHandleRec{0, name};
  return 0;
}

int pl_svc_create(PlScHandle scm, const PlServiceDef *d, PlScHandle *out) {
  if (!scm || !scm->is_manager)
    return PL_SVC_ERR_INVALID_HANDLE;
  if (!fs_validName(d->name) || !d->image_path)
    return PL_SVC_ERR_INVALID_NAME;
  PlHkey k;
  if (fs_openKey(d->name, PL_REG_READ, &k) == 0) {
    uint32_t del = fs_getDword(k, "DeleteFlag", 0);
    pl_reg_close(k);
    return del ? PL_SVC_ERR_MARKED_FOR_DELETE : PL_SVC_ERR_EXISTS;
  }
  std::string sub = std::string(fs_servicesKey) + "\\" + d->name;
  int rc = pl_reg_create(pl_reg_root(PL_HKLM), sub.c_str(), PL_REG_ALL, &k);
  if (rc)
    return rc;
  if (!rc)
    rc = fs_setDword(k, "Type", d->type);
  if (!rc)
    rc = fs_setDword(k, "Start", d->start_type);
  if (!rc)
    rc = fs_setDword(k, "ErrorControl", d->error_control);
  if (!rc)
    rc = fs_setString(k, "ImagePath", PL_REG_EXPAND_SZ, d->image_path);
  if (!rc)
    rc = fs_setString(k, "DisplayName", PL_REG_SZ, d->display_name ? d->display_name : d->name);
  if (!rc)
    rc = fs_setString(k, "ObjectName", PL_REG_SZ, "LocalSystem");
  pl_reg_close(k);
  if (rc) {
    fs_deleteDefinition(d->name);
    return rc;
  }
  *out = new PlScHandleRec{0, d->name};
  return 0;
}

int pl_svc_change_config(PlScHandle svc, const char *image_path, const char *display_name) {
  PlHkey k;
  int rc = fs_serviceKey(svc, PL_REG_ALL, &k);
  if (rc)
    return rc;
  if (!rc && image_path)
    rc = fs_setString(k, "ImagePath", PL_REG_EXPAND_SZ, image_path);
  if (!rc && display_name)
    rc = fs_setString(k, "DisplayName", PL_REG_SZ, display_name);
  pl_reg_close(k);
  return rc;
}

int pl_svc_set_description(PlScHandle svc, const char *description) {
  PlHkey k;
  int rc = fs_serviceKey(svc, PL_REG_ALL, &k);
  if (rc)
    return rc;
  rc = description ? fs_setString(k, "Description", PL_REG_SZ, description) : pl_reg_delete_value(k, "Description");
  if (rc == PL_ERR_FILE_NOT_FOUND)
    rc = 0;
  pl_reg_close(k);
  return rc;
}

int pl_svc_query_config(PlScHandle svc, PlServiceConfig *c) {
  memset(c, 0, sizeof *c);
  PlHkey k;
  int rc = fs_serviceKey(svc, PL_REG_READ, &k);
  if (rc)
    return rc;
  c->type = fs_getDword(k, "Type", 0);
  c->start_type = fs_getDword(k, "Start", 0);
  c->error_control = fs_getDword(k, "ErrorControl", 0);
  fs_getString(k, "ImagePath", c->image_path, sizeof c->image_path);
  fs_getString(k, "DisplayName", c->display_name, sizeof c->display_name);
  pl_reg_close(k);
  return 0;
}

int pl_svc_query(PlScHandle svc, PlServiceStatus *status) {
  fs_stoppedStatus(status);
  SvcPaths p;
  int rc = svc && !svc->is_manager ? fs_paths(svc->name, &p) : PL_SVC_ERR_INVALID_HANDLE;
  if (rc)
    return rc;
  fs_readStatus(p, status);
  return 0;
}

int pl_svc_start(PlScHandle svc, int argc, const char **argv) {
  PlHkey k;
  int rc = fs_serviceKey(svc, PL_REG_READ, &k);
  if (rc)
    return rc;
  char image[1024];
  rc = fs_getString(k, "ImagePath", image, sizeof image);
  uint32_t del = fs_getDword(k, "DeleteFlag", 0);
  pl_reg_close(k);
  if (del)
    return PL_SVC_ERR_MARKED_FOR_DELETE;
  if (rc)
    return PL_SVC_ERR_FILE_NOT_FOUND;
  std::vector<std::string> cmd = pl_split_command_line(image);
  if (cmd.empty())
    return PL_SVC_ERR_FILE_NOT_FOUND;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(argv[i] ? argv[i] : "");
  SvcPaths p;
  rc = fs_paths(svc->name, &p);
  if (rc)
    return rc;
  // One start at a time per service.
  int lk = open(p.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lk < 0 || flock(lk, LOCK_EX) != 0) {
    if (lk >= 0)
      close(lk);
    return PL_SVC_ERR_ACCESS_DENIED;
  }
  PlServiceStatus st;
  fs_readStatus(p, &st);
  if (st.current_state != PL_SVC_STOPPED) {
    close(lk);
    return PL_SVC_ERR_ALREADY_RUNNING;
  }
  int rep[2];
  if (pipe2(rep, O_CLOEXEC) != 0) {
    close(lk);
    return PL_SVC_ERR_ACCESS_DENIED;
  }
  pid_t pid = fork();
  if (pid == 0) {
    // Detached from the caller: a session of its own, reparented to init.
    close(rep[0]);
    close(lk);
    setsid();
    signal(SIGHUP, SIG_IGN);
    if (fork() != 0)
      _exit(0);
    int nul = open("/dev/null", O_RDWR);
    dup2(nul, 0);
    dup2(nul, 1);
    dup2(nul, 2);
    signal(SIGHUP, SIG_DFL);
    Monitor m;
    m.name = svc->name;
    m.paths = p;
    fs_monitorMain(&m, cmd, args, rep[1]);
    _exit(0);
  }
  close(rep[1]);
  int result = PL_SVC_ERR_REQUEST_TIMEOUT;
  if (pid > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    pollfd pfd = {rep[0], POLLIN, 0};
    if (poll(&pfd, 1, fs_startLimitMs() + 5000) > 0 && read(rep[0], &result, sizeof result) != sizeof result)
      result = PL_SVC_ERR_REQUEST_TIMEOUT;
  }
  close(rep[0]);
  close(lk);
  return result;
}

int pl_svc_control(PlScHandle svc, uint32_t control, PlServiceStatus *status) {
  fs_stoppedStatus(status);
  SvcPaths p;
  int rc = svc && !svc->is_manager ? fs_paths(svc->name, &p) : PL_SVC_ERR_INVALID_HANDLE;
  if (rc)
    return rc;
  fs_readStatus(p, status);
  int fd = status->current_state == PL_SVC_STOPPED ? -1 : fs_connect(p.sock);
  if (fd < 0)
    return PL_SVC_ERR_NOT_ACTIVE;
  ScMsg rep;
  int r = fs_send(fd, fs_msg(MSG_CONTROL, control)) ? fs_recv(fd, &rep, 35000) : 0;
  close(fd);
  if (r != 1 || rep.kind != MSG_REPLY)
    return r < 0 ? PL_SVC_ERR_REQUEST_TIMEOUT : PL_SVC_ERR_NOT_ACTIVE;
  *status = rep.st;
  return static_cast<int>(rep.code);
}

int pl_svc_delete(PlScHandle svc) {
  PlHkey k;
  int rc = fs_serviceKey(svc, PL_REG_ALL, &k);
  if (rc)
    return rc;
  if (fs_getDword(k, "DeleteFlag", 0)) {
    pl_reg_close(k);
    return PL_SVC_ERR_MARKED_FOR_DELETE;
  }
  PlServiceStatus st;
  pl_svc_query(svc, &st);
  if (st.current_state != PL_SVC_STOPPED) {
    // Removed by the monitor when the service ends.
    rc = fs_setDword(k, "DeleteFlag", 1);
    pl_reg_close(k);
    return rc;
  }
  pl_reg_close(k);
  return fs_deleteDefinition(svc->name);
}

void pl_sc_close(PlScHandle h) { delete h; }
