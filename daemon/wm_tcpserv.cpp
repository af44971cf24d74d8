// The daemon's entry: start-up order, console mode, the service
// dispatcher, the main sequence and the shutdown.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon.h"
#include "mwa_error.h"
#include "mwa_mutex.h"
#include "mwa_process.h"
#include "mwa_system.h"
#include "platform/file.h"
#include "platform/net.h"
#include "platform/service.h"
#include "mwa_socket.h"
#include "sv_dispatch.h"
#include "sv_error.h"

static const char fs_moduleName[] = "wm_tcpserv";

namespace {

MngInfo fs_mngInfo;
MwaMutex *fs_statusLock; // the service status record's lock
int fs_stopRequest;      // the stop-request cell
MwaMutex *fs_stopLock;

char fs_script[32];
const char *fs_scriptArgs[2];

void fs_emptySet(SockSet *s) {
  s->count = 0;
  for (PlSocket &x : s->socks)
    x = PL_INVALID_SOCKET;
}

int fs_getAsyncStopRequest() { return ExchangeStopRequest(0); }

PlServiceStatus fs_status;
PlServiceStatusHandle fs_statusHandle; // 0 in console mode

// Logs the record and hands it to the service manager; the status lock
// is held.
void fs_reportLocked() {
  PutStatusMessage(21834, 0, static_cast<int>(fs_status.current_state));
  if (!fs_statusHandle)
    return;
  int isSuccess = pl_service_set_status(fs_statusHandle, &fs_status) == 0;
  MWA_CHECK(isSuccess);
}

void fs_setAsyncStopResult(int stopped) {
  if (stopped)
    return;
  PutMessage(21814);
  SetServiceState(PL_SVC_RUNNING, 0, 0, 0, 0);
}

// Runs on the service manager's thread: never touches MngInfo.
void fs_controlHandler(uint32_t control) {
  if (control == PL_SVC_CONTROL_STOP || control == PL_SVC_CONTROL_SHUTDOWN) {
    SetServiceState(PL_SVC_STOP_PENDING, 0, 0, 0, 60000);
    ExchangeStopRequest(TCPSERV_ASYNC_STOP_SAFE);
    return;
  }
  ReportServiceState();
}

int fs_serviceInit(int argc, char **argv) {
  int rc = pl_net_startup();
  if (rc) {
    PutErrorDetail(SV_LINE_SYSCALL, "fs_serviceInit", 181, "WSAStartup", rc, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(rc);
    return 2;
  }
  snprintf(fs_script, sizeof fs_script, ".%cbin%cServer%s", pl_path_sep, pl_path_sep, pl_script_suffix);
  fs_scriptArgs[0] = fs_script;
  fs_scriptArgs[1] = nullptr;
  rc = InitTcpserv(&fs_mngInfo, argc, argv, fs_scriptArgs);
  if (rc) {
    PutErrorDetail(SV_LINE_ROUTINE, "fs_serviceInit", 191, "InitTcpserv", rc, 0, "?", PL_INVALID_SOCKET);
    return rc;
  }
  fs_stopRequest = 0;
  fs_mngInfo.callbackGetAsyncStopRequest = fs_getAsyncStopRequest;
  fs_mngInfo.callbackSetAsyncStopResult = fs_setAsyncStopResult;
  return 0;
}

void fs_initialStatus() {
  memset(&fs_status, 0, sizeof fs_status);
  fs_status.service_type = 0x30;
  fs_status.current_state = PL_SVC_START_PENDING;
  fs_status.controls_accepted = PL_SVC_ACCEPT_STOP | PL_SVC_ACCEPT_SHUTDOWN;
}

void fs_serviceMain(int argc, char **argv) {
  fs_initialStatus();
  int err = 0;
  fs_statusHandle = pl_service_register_handler("TOVX Service", fs_controlHandler, &err);
  if (!fs_statusHandle) {
    PutErrorDetail(SV_LINE_SYSCALL, "fs_serviceMain", 224, "RegisterServiceCtrlHandler", err, 0, "?",
                   PL_INVALID_SOCKET);
    PutSystemError(err);
    MWA_CHECK(0);
    return;
  }
  int rc = fs_serviceInit(argc, argv);
  if (rc) {
    SetServiceState(PL_SVC_STOPPED, PL_SVC_ERR_SPECIFIC, static_cast<uint32_t>(rc), 0, 0);
    return;
  }
  SetServiceState(PL_SVC_RUNNING, 0, 0, 0, 0);
  rc = ServerMain();
  if (rc)
    SetServiceState(PL_SVC_STOPPED, PL_SVC_ERR_SPECIFIC, static_cast<uint32_t>(rc), 0, 0);
  else
    SetServiceState(PL_SVC_STOPPED, 0, 0, 0, 0);
  PutMessage(21815);
}

} // namespace

void SetServiceState(uint32_t state, uint32_t win32Exit, uint32_t specificExit, uint32_t checkPoint,
                     uint32_t waitHint) {
  if (fs_statusLock)
    MwaMutex_lock(fs_statusLock);
  fs_status.current_state = state;
  fs_status.win32_exit_code = win32Exit;
  fs_status.service_exit_code = specificExit;
  fs_status.check_point = checkPoint;
  fs_status.wait_hint = waitHint;
  fs_reportLocked();
  if (fs_statusLock)
    MwaMutex_unlock(fs_statusLock);
}

void ReportServiceState() {
  if (fs_statusLock)
    MwaMutex_lock(fs_statusLock);
  fs_reportLocked();
  if (fs_statusLock)
    MwaMutex_unlock(fs_statusLock);
}

int ExchangeStopRequest(int value) {
  if (fs_stopLock)
    MwaMutex_lock(fs_stopLock);
  int r = fs_stopRequest;
  fs_stopRequest = value;
  if (fs_stopLock)
    MwaMutex_unlock(fs_stopLock);
  return r;
}

void ServiceControlForTest(uint32_t control) { fs_controlHandler(control); }
void SetAsyncStopResultForTest(int stopped) { fs_setAsyncStopResult(stopped); }
const PlServiceStatus *GetServiceStatusForTest() { return &fs_status; }

MngInfo *GetMngInfo() { return &fs_mngInfo; }

int InitTcpserv(MngInfo *p, int argc, char **argv, const char *const *scriptArgs) {
  memset(p, 0, sizeof *p);
  p->bufSize = 4096;
  p->talvOpen = 1;
  p->listenSock = PL_INVALID_SOCKET;
  for (PlSocket &s : p->listenSocks)
    s = PL_INVALID_SOCKET;
  p->noticeSock = p->resetSock = p->safeStopSock = p->stopSock = PL_INVALID_SOCKET;
  fs_emptySet(&p->openWaiters);
  fs_emptySet(&p->commonOpenWaiters);
  fs_emptySet(&p->stopWaiters);
  fs_emptySet(&p->readSet);
  p->noNotice = (argc == 2 && strcmp(argv[1], "-nno") == 0) ? 1 : 0;
  p->agentArgs = scriptArgs;

  p->buf = static_cast<char *>(calloc(2, 4096));
  p->clientSocks = static_cast<PlSocket *>(malloc(sizeof(PlSocket) * SV_MAX_SOCKETS));
  if (!p->buf || !p->clientSocks) {
    PutErrorDetail(SV_LINE_SYSCALL, "InitTcpserv", 135, "calloc", 12, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(12);
    return 2;
  }
  for (int i = 0; i < SV_MAX_SOCKETS; ++i)
    p->clientSocks[i] = PL_INVALID_SOCKET;
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  p->agentProcess = MwaProcess_new(&e);
  if (!p->agentProcess) {
    PutErrorDetail(SV_LINE_SYSCALL, "InitTcpserv", 146, e.op, e.err, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(e.err);
    return 2;
  }
  p->callbackGetAsyncStopRequest = nullptr;
  p->callbackSetAsyncStopResult = nullptr;
  int rc = pl_chdir(mwa_getbindir());
  if (rc) {
    PutErrorDetail(SV_LINE_SYSCALL, "InitTcpserv", 158, "chdir", rc, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(rc);
    return 2;
  }
  rc = GetAgentArgData(p, argc, argv);
  if (rc) {
    PutErrorDetail(SV_LINE_ROUTINE, "InitTcpserv", 168, "GetAgentArgData", rc, 0, "?", PL_INVALID_SOCKET);
    return 2;
  }
  return 0;
}

int ServerMain() {
  MngInfo *p = &fs_mngInfo;
  PutMessage(p->alwaysOn == 1 ? 21009 : 21016);
  if (ExecAgent(p)) {
    p->state = 2;
    p->remoteStarting = 0;
    p->localStarting = 0;
  }
  PutMessage(21819);
  WatchSocket(p);
  PutMessage(21820);
  ShutdownDaemon();
  return 0;
}

void ShutdownDaemon() {
  MngInfo *p = &fs_mngInfo;
  if (IsAgentRunning(p)) {
    MwaErrorInfo e;
    MwaErrorInfo_clear(&e);
    KillAgentTree(p);
    MwaProcess_waitEnd(p->agentProcess, &e);
  }
  for (PlSocket &s : p->listenSocks)
    if (s != PL_INVALID_SOCKET) {
      mwa_closesocket(s);
      s = PL_INVALID_SOCKET;
      PutMessage(21818);
    }
  for (int i = 0; p->clientSocks && i < SV_MAX_SOCKETS; ++i)
    if (p->clientSocks[i] != PL_INVALID_SOCKET) {
      mwa_closesocket(p->clientSocks[i]);
      p->clientSocks[i] = PL_INVALID_SOCKET;
    }
  p->listenSock = PL_INVALID_SOCKET;
  p->noticeSock = p->resetSock = p->safeStopSock = p->stopSock = PL_INVALID_SOCKET;
  p->listenCount = 0;
  fs_emptySet(&p->readSet);
  fs_emptySet(&p->openWaiters);
  fs_emptySet(&p->commonOpenWaiters);
  fs_emptySet(&p->stopWaiters);
}

int TcpservMain(int argc, char **argv) {
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  fs_statusLock = MwaMutex_new(&e);
  fs_stopLock = MwaMutex_new(&e);
  int isSuccess = mwa_sysinit(&e);
  if (!isSuccess) {
    MWA_CHECK(isSuccess);
    return 2;
  }
  int error = InitErrorLog();
  if (error) {
    MWA_CHECK(!error);
    return 2;
  }
  if ((error = AddAddOnPath()) != 0) {
    MWA_CHECK(!error);
    return error;
  }
  if ((error = GetCurrentProps_win()) != 0) {
    MWA_CHECK(!error);
    return error;
  }
  if (argc == 2 && strcmp(argv[1], "--dev-console") == 0) {
    int rc = fs_serviceInit(argc, argv);
    if (rc) {
      TermErrorLog();
      return rc;
    }
    rc = ServerMain();
    TermErrorLog();
    return rc;
  }
  pl_service_dispatch("TOVX Service", fs_serviceMain);
  PutMessage(21816);
  TermErrorLog();
  if (fs_statusLock)
    MwaMutex_free(fs_statusLock);
  fs_statusLock = nullptr;
  return 0;
}
