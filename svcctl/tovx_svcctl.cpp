// tovx_svcctl: registers, deletes, starts, stops and reports the service
// under which tovx_service runs.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mwa_error.h"
#include "mwa_msgbundle.h"
#include "mwa_system.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/proc.h"
#include "platform/service.h"
#include "sv_error.h"

static const char fs_moduleName[] = "tovx_svcctl";

namespace {

const char fs_serviceName[] = "TOVX Service";
const char fs_description[] = "Provides base functions for host agent add-on.";

char fs_servicePath[MWA_PATH_MAX];
char fs_msgPrefix[MWA_PATH_MAX];
char fs_lockFile[MWA_PATH_MAX];
char fs_iidFile[MWA_PATH_MAX];
MwaMsgBundle *fs_msgs;

// A message of the bundle: its text (or the default) filled with the
// values, written to standard error.
struct MsgDef {
  const char *key;
  const char *deflt; // null: the key itself
  const char *types; // one letter a value: 's' text, 'd' number
  bool lineFeed;
};
const MsgDef MSG_ALREADY_RUNNING = {"XVRT62001_SERVICE_ALREADY_RUNNING", "XVRT62001-I", "", false};
const MsgDef MSG_CANNOT_STOP = {"XVRT62604_CANNOT_STOP_TALVAGT", "XVRT62604-E", "", false};
const MsgDef MSG_CANNOT_CONNECT = {"XVRT62605_CANNOT_CONNECT_TOVX", "XVRT62605-E", "", false};
const MsgDef MSG_CANNOT_START_SERVICE = {"XVRT62606_CANNOT_START_SERVICE", "XVRT62606-E", "", true};
const MsgDef MSG_CHECK_JVM_FAILED = {"XVRT62607_CHECK_JVM_FAILED", "XVRT62607-E", "", true};
const MsgDef MSG_FUNCTION = {"XVRT6_CANNOT_START_FUNCTION", nullptr, "sd", true};
const MsgDef MSG_INVALID_ARGUMENTS = {"XVRT6_INVALID_ARGUMENTS", nullptr, "", false};
const MsgDef MSG_FAILED_KEY = {"XVRT6_FAILED_KEY", nullptr, "ssd", false};
const MsgDef MSG_CHILD = {"XVRT6_FAILED_CREATE_CHILD_PROCCESS", nullptr, "sd", false};

// Whether fmt's conversions take exactly the values of types, so that a
// message file cannot make the formatter read what was not passed.
bool fs_formatFits(const char *fmt, const char *types) {
  for (const char *p = fmt; *p; ++p) {
    if (*p != '%')
      continue;
    ++p;
    if (*p == '%')
      continue;
    while (*p && strchr("-+ #0", *p))
      ++p;
    while (*p >= '0' && *p <= '9')
      ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9')
        ++p;
    }
    char want = *types;
    if (!want || !*p)
      return false;
    ++types;
    if (want == 's' ? *p != 's' : !strchr("diuxX", *p) || !*p)
      return false;
  }
  return *types == '\0';
}

void fs_print(const MsgDef &m, ...) {
  const char *deflt = m.deflt ? m.deflt : m.key;
  const char *text = MwaMsgHelper_getMessage(fs_msgs, m.key, deflt);
  if (!text || !fs_formatFits(text, m.types))
    text = deflt;
  char buf[256];
  va_list ap;
  va_start(ap, m);
  // The values in the order of types; a null text shows as "(NULL)".
  const char *s[3] = {};
  int d[3] = {};
  int ns = 0, nd = 0;
  for (const char *t = m.types; *t; ++t) {
    if (*t == 's') {
      const char *v = va_arg(ap, const char *);
      s[ns++] = v ? v : "(NULL)";
    } else {
      d[nd++] = va_arg(ap, int);
    }
  }
  va_end(ap);
  if (strcmp(m.types, "sd") == 0)
    MwaMsgHelper_format(buf, sizeof buf, text, s[0], d[0]);
  else if (strcmp(m.types, "ssd") == 0)
    MwaMsgHelper_format(buf, sizeof buf, text, s[0], s[1], d[0]);
  else
    MwaMsgHelper_format(buf, sizeof buf, "%s", text);
  fputs(buf, stderr);
  if (m.lineFeed)
    fputc('\n', stderr);
}

void fs_log(int number) {
  if (InitErrorLog() != 0)
    return;
  PutMessage(number);
  TermErrorLog();
}

// 1 when a process of the service program runs, 0 when none does, -1
// when the process list is not to be had.
int fs_serviceProgramRuns() {
  std::vector<PlProcEntry> procs;
  const char *op = nullptr;
  int err = 0;
  if (pl_proc_snapshot(&procs, &op, &err) != 0 || procs.empty())
    return -1;
  for (const PlProcEntry &p : procs)
    if (strncmp(p.exe.c_str(), "tovx_service", 12) == 0)
      return 1;
  return 0;
}

// Opens the service manager and the service: 0, or the error with *fn
// naming the call that failed. The caller closes both handles.
int fs_openService(PlScHandle *scm, PlScHandle *svc, const char **fn) {
  *fn = "OpenSCManager";
  int rc = pl_scm_open(scm);
  if (rc)
    return rc;
  *fn = "OpenService";
  return pl_svc_open(*scm, fs_serviceName, svc);
}

int fs_registService() {
  if (pl_file_exists(fs_lockFile))
    return 0;
  PlScHandle scm = nullptr, svc = nullptr;
  if (pl_scm_open(&scm))
    return 1;
  char path[1024];
  snprintf(path, sizeof path, "\"%s\"", fs_servicePath);
  int result;
  int rc = pl_svc_open(scm, fs_serviceName, &svc);
  if (rc == 0) {
    if (pl_svc_change_config(svc, path, fs_serviceName))
      result = 1;
    else
      result = pl_svc_set_description(svc, fs_description) ? 2 : 0;
  } else if (rc == PL_SVC_ERR_DOES_NOT_EXIST) {
    PlServiceDef def = {fs_serviceName, fs_serviceName, PL_SVC_WIN32_OWN_PROCESS, PL_SVC_AUTO_START,
                        PL_SVC_ERROR_NORMAL, path};
    if (pl_svc_create(scm, &def, &svc))
      result = 1;
    else
      result = pl_svc_set_description(svc, fs_description) ? 2 : 0;
  } else {
    result = 1;
  }
  pl_sc_close(svc);
  pl_sc_close(scm);
  return result;
}

int fs_deleteService() {
  if (pl_file_exists(fs_lockFile))
    return 0;
  PlScHandle scm = nullptr, svc = nullptr;
  PlServiceStatus st;
  const char *fn;
  if (fs_openService(&scm, &svc, &fn) || pl_svc_query(svc, &st)) {
    pl_sc_close(svc);
    pl_sc_close(scm);
    return 1;
  }
  int result = 0;
  if (st.current_state != PL_SVC_STOPPED) {
    int rc = pl_svc_control(svc, PL_SVC_CONTROL_STOP, &st);
    if (rc && rc != PL_SVC_ERR_CANNOT_ACCEPT_CTRL && rc != PL_SVC_ERR_NOT_ACTIVE)
      result = 1;
  }
  if (result == 0) {
    for (int i = 0; i < 1200; ++i) {
      pl_sleep_ms(500);
      if (pl_svc_query(svc, &st) || st.current_state == PL_SVC_STOPPED)
        break;
    }
    result = pl_svc_delete(svc) ? 1 : 0;
  }
  pl_sc_close(svc);
  pl_sc_close(scm);
  return result;
}

int fs_status() {
  // Display buffers of 20 bytes: longer values are cut.
  char version[20], build[20];
  snprintf(version, sizeof version, "%s", mwa_getversionproduct());
  const char *b = mwa_getversionbuild();
  snprintf(build, sizeof build, "%.2s", strlen(b) > 5 ? b + 5 : "");
  printf("TOVX Service Information\n");
  printf(" version    :%s\n", version);
  printf(" build      :%s\n", build);
  const char *state;
  if (pl_file_exists(fs_lockFile)) {
    state = "Maintenance";
  } else {
    int r = fs_serviceProgramRuns();
    if (r < 0)
      return 1;
    state = r ? "Running" : "Stop";
  }
  printf(" status     :%s\n", state);
  return 0;
}

// Runs program with argv and waits: its exit code, or -1 with *err (the
// runtime library's error number) when it could not be run.
long fs_runAndWait(const char *program, const char *const *argv, int flags, int *err) {
  PlProcInfo pi;
  *err = pl_proc_spawn(program, argv, flags, &pi);
  if (*err)
    return -1;
  uint32_t code = 0;
  const char *op = nullptr;
  int r = pl_proc_wait(&pi, -1, &code, &op, err);
  pl_proc_release(&pi);
  return r == 1 ? static_cast<long>(code) : -1;
}

int fs_start(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[2], "-nno") != 0) {
    fs_print(MSG_INVALID_ARGUMENTS);
    return 0;
  }
  if (pl_file_exists(fs_lockFile))
    return 0;
  int r = fs_serviceProgramRuns();
  if (r > 0) {
    fs_print(MSG_ALREADY_RUNNING);
    return 0;
  }
  int result = r < 0 ? 2 : 0;

  // The Java check runs from the installation directory.
  char saved[260] = "";
  pl_getcwd(saved, sizeof saved);
  char callbat[64], modinfo[64];
  snprintf(callbat, sizeof callbat, "agent%cbin%camc_callbat%s", pl_path_sep, pl_path_sep, pl_script_suffix);
  snprintf(modinfo, sizeof modinfo, "bin%camc_modinfo%s", pl_path_sep, pl_script_suffix);
  const char *check[] = {callbat, modinfo, "-javacheck", nullptr};
  int err = 0;
  long code = pl_chdir(mwa_getinstalldir()) == 0 ? fs_runAndWait(callbat, check, PL_SPAWN_QUIET, &err) : -1;
  pl_chdir(saved);
  if (code != 0) {
    fs_log(21026);
    fs_print(MSG_CHECK_JVM_FAILED);
    return result;
  }
  if (!pl_file_exists(fs_iidFile)) {
    fs_log(21027);
    fs_print(MSG_CHECK_JVM_FAILED);
    return result;
  }

  PlScHandle scm = nullptr, svc = nullptr;
  const char *fn;
  int rc = fs_openService(&scm, &svc, &fn);
  if (rc == 0) {
    fn = "StartService";
    const char *args[] = {"-nno"};
    rc = pl_svc_start(svc, argc == 3 ? 1 : 0, args);
    if (rc == PL_SVC_ERR_ALREADY_RUNNING)
      rc = 0;
  }
  pl_sc_close(svc);
  pl_sc_close(scm);
  if (rc) {
    fs_print(MSG_FUNCTION, fn, rc);
    fs_print(MSG_CANNOT_START_SERVICE);
    return 2;
  }
  return result;
}

int fs_stop(int argc, char **argv) {
  if (pl_file_exists(fs_lockFile))
    return 0;
  const char *option = nullptr;
  if (argc == 3) {
    if (strcmp(argv[2], "-f") == 0 || strcmp(argv[2], "-notice") == 0)
      option = argv[2];
    else
      fs_print(MSG_INVALID_ARGUMENTS);
  }
  PlScHandle scm = nullptr, svc = nullptr;
  PlServiceStatus st;
  const char *fn;
  int rc = fs_openService(&scm, &svc, &fn);
  if (rc == 0) {
    fn = "QueryServiceStatus";
    rc = pl_svc_query(svc, &st);
  }
  pl_sc_close(svc);
  pl_sc_close(scm);
  if (rc) {
    fs_print(MSG_FUNCTION, fn, rc);
    return 2;
  }
  if (st.current_state == PL_SVC_STOPPED)
    return 0;

  char dir[MWA_PATH_MAX], failed[MWA_SUBKEY_MAX];
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  if (!mwa_readinstalldir(dir, failed, &e)) {
    if (failed[0])
      fs_print(MSG_FAILED_KEY, e.op, failed, static_cast<int>(e.err));
    else
      fs_print(MSG_FUNCTION, e.op, static_cast<int>(e.err));
    return 2;
  }
  rc = mwa_joinpath(dir, sizeof dir, "agent") && mwa_joinpath(dir, sizeof dir, "bin") ? pl_chdir(dir) : 206;
  if (rc) {
    fs_print(MSG_FUNCTION, "SetCurrentDirectory", rc);
    return 2;
  }
  const char *cmd[] = {"amc_callbat", "amc_exec", "alet.server:StopCLI", option, nullptr};
  int err = 0;
  long code = fs_runAndWait("amc_callbat", cmd, 0, &err);
  if (code < 0) {
    fs_print(MSG_CHILD, "amc_callbat", err);
    return 2;
  }
  if (code == 0)
    return 0;
  fs_print(code == 1 ? MSG_CANNOT_STOP : MSG_CANNOT_CONNECT);
  return static_cast<int>(code);
}

int fs_initPaths(MwaErrorInfo *e) {
  struct {
    char *buf;
    const char *parts[3];
  } paths[] = {
      {fs_servicePath, {"agent", "bin", nullptr}},
      {fs_msgPrefix, {"msgs", "talvagt", nullptr}},
      {fs_lockFile, {"etc", ".lock", nullptr}},
      {fs_iidFile, {"etc", "amc_iid", nullptr}},
  };
  for (auto &p : paths) {
    snprintf(p.buf, MWA_PATH_MAX, "%s", mwa_getinstalldir());
    for (const char *part : p.parts)
      if (part && !mwa_joinpath(p.buf, MWA_PATH_MAX, part)) {
        MwaErrorInfo_set(e, "mwa_joinpath", 206);
        return 0;
      }
  }
  char exe[32];
  snprintf(exe, sizeof exe, "tovx_service%s", pl_exe_suffix);
  if (!mwa_joinpath(fs_servicePath, MWA_PATH_MAX, exe)) {
    MwaErrorInfo_set(e, "mwa_joinpath", 206);
    return 0;
  }
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  if (!mwa_sysinit(&e) || !fs_initPaths(&e) || !MwaMsgHelper_init(&fs_msgs, fs_msgPrefix, &e)) {
    printf("Initialize failed.  error number = %d\n", static_cast<int>(e.err));
    return 2;
  }
  MWA_CHECK(fs_msgs != NULL);
  if (argc < 2 || argc > 3) {
    fs_print(MSG_INVALID_ARGUMENTS);
    return 0;
  }
  const char *cmd = argv[1];
  if (strcmp(cmd, "start") == 0)
    return fs_start(argc, argv);
  if (strcmp(cmd, "stop") == 0)
    return fs_stop(argc, argv);
  if (argc == 2 && strcmp(cmd, "registservice") == 0)
    return fs_registService();
  if (argc == 2 && strcmp(cmd, "deleteservice") == 0)
    return fs_deleteService();
  if (argc == 2 && strcmp(cmd, "status") == 0)
    return fs_status();
  fs_print(MSG_INVALID_ARGUMENTS);
  return 0;
}
