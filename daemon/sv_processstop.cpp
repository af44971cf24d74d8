// The agent's process (launch, running check, tree kill) and the stop
// requests of requesters and of the service manager.
#include <cstdio>
#include <cstring>

#include "daemon.h"
#include "mwa_error.h"
#include "mwa_process.h"
#include "mwa_system.h"
#include "platform/file.h"
#include "platform/syserr.h"
#include "sv_dispatch.h"
#include "sv_error.h"
#include "sv_http.h"
#include "sv_watch.h"

static const char fs_moduleName[] = "sv_processstop";

namespace {

void fs_launchFailed(int site, const char *op, int err) {
  char text[512];
  PutErrorDetail(SV_LINE_SYSCALL, "ExecAgent", site, op, err, 0, "?", PL_INVALID_SOCKET);
  PutErrorText(pl_strerror(err, text, sizeof text));
  PutMessage(21012);
}

// The answer to one party waiting for a stop: a requester's socket, or
// the service manager (-1).
void fs_stopAnswer(MngInfo *p, PlSocket s, bool stopped) {
  if (s != PL_INVALID_SOCKET) {
    SendClient(s, p, stopped ? SV_TALV_STOPPED : SV_TALV_FAILED);
  } else {
    MWA_CHECK(p->callbackSetAsyncStopResult);
    if (p->callbackSetAsyncStopResult)
      p->callbackSetAsyncStopResult(stopped ? 1 : 0);
  }
  if (stopped)
    p->quit = 1;
  else
    p->pendingStop = 0;
}

void fs_done(MngInfo *p, PlSocket s) {
  if (s != PL_INVALID_SOCKET)
    CloseClient(s, p);
  else
    p->asyncStop = 0;
}

void fs_record(MngInfo *p, PlSocket s) {
  p->pendingStop = p->msgKind;
  if (s != PL_INVALID_SOCKET)
    SockSet_add(&p->stopWaiters, s);
}

} // namespace

int ExecAgent(MngInfo *p) {
  char cwd[MWA_PATH_MAX];
  int rc = pl_getcwd(cwd, sizeof cwd);
  if (rc) {
    fs_launchFailed(31, "getcwd", rc);
    return 0;
  }
  if ((rc = pl_chdir(mwa_getagentdir())) != 0) {
    fs_launchFailed(40, "chdir", rc);
    return 0;
  }
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  int started = MwaProcess_start(p->agentProcess, p->agentArgs, &e);
  if (!started) {
    PutErrorDetail(SV_LINE_SYSCALL, "ExecAgent", 58, e.op, e.err, 0, "?", PL_INVALID_SOCKET);
    if (e.err > 0) {
      char text[512];
      PutErrorText(pl_strerror(e.err, text, sizeof text));
    }
    PutMessage(21012);
  }
  if ((rc = pl_chdir(cwd)) != 0) {
    fs_launchFailed(71, "chdir", rc);
    return 0;
  }
  return started;
}

int IsAgentRunning(MngInfo *p) {
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  int running = p->agentProcess && MwaProcess_isRunning(p->agentProcess, &e);
  if (!running)
    p->openCount = 0;
  return running;
}

void KillAgentTree(MngInfo *p) {
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  MwaProcess_killTree(p->agentProcess, &e);
}

PlSocket FindStopRequester(MngInfo *p) {
  if (p->asyncStop)
    return PL_INVALID_SOCKET;
  for (int32_t i = 0; i <= p->clientTop && i < SV_MAX_SOCKETS; ++i)
    if (p->clientSocks[i] != PL_INVALID_SOCKET && SockSet_contains(&p->stopWaiters, p->clientSocks[i]))
      return p->clientSocks[i];
  return PL_INVALID_SOCKET;
}

void FinishPendingStop(MngInfo *p, int stopped) {
  if (p->pendingStop == 0)
    return;
  if (p->asyncStop) {
    fs_stopAnswer(p, PL_INVALID_SOCKET, stopped);
    p->asyncStop = 0;
  }
  for (int32_t i = 0; i <= p->clientTop && i < SV_MAX_SOCKETS; ++i) {
    PlSocket s = p->clientSocks[i];
    if (s != PL_INVALID_SOCKET && SockSet_contains(&p->stopWaiters, s)) {
      fs_stopAnswer(p, s, stopped);
      CloseClient(s, p);
    }
  }
  if (stopped)
    p->quit = 1;
  else
    p->pendingStop = 0;
}

void HandleStopRequest(PlSocket s, MngInfo *p) {
  uint32_t k = p->msgKind;
  switch (p->state) {
  case 0:
    fs_stopAnswer(p, s, true);
    fs_done(p, s);
    return;
  case 3:
  case 4:
    if (k == 4) {
      fs_stopAnswer(p, s, false);
      fs_done(p, s);
      return;
    }
    [[fallthrough]];
  case 1: {
    int kind = k == 3 ? SV_ACS_STOP : k == 4 ? SV_ACS_SAFESTOP : SV_ACS_NOTICESTOP;
    if (SendAgent(p, kind) < 0) {
      if (IsAgentRunning(p)) {
        p->state = 5;
      } else {
        FailOpeners(p);
        fs_stopAnswer(p, s, true);
        fs_done(p, s);
        FinishPendingStop(p, 1);
        p->state = 0;
        return;
      }
    }
    fs_record(p, s);
    return;
  }
  case 2:
  case 5:
  case 6:
  case 99:
    fs_record(p, s);
    return;
  default:
    return;
  }
}

void StartAsyncStop(MngInfo *p, int type) {
  MWA_CHECK(type == 1 || type == 2);
  p->msgKind = 5;
  p->asyncStop = 5;
  HandleStopRequest(PL_INVALID_SOCKET, p);
}
