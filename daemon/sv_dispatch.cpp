#include "sv_dispatch.h"

#include "sv_error.h"
#include "sv_http.h"
#include "sv_watch.h"

int exitRequested;
int remoteStartingSeen;
int localStartingSeen;

namespace {

void fs_answerOpeners(MngInfo *p, bool opened) {
  for (int32_t i = 0; i <= p->clientTop && i < SV_MAX_SOCKETS; ++i) {
    PlSocket s = p->clientSocks[i];
    if (s == PL_INVALID_SOCKET || !SockSet_contains(&p->openWaiters, s))
      continue;
    bool common = SockSet_contains(&p->commonOpenWaiters, s);
    SendClient(s, p, common ? (opened ? SV_COMMON_OPENED : SV_COMMON_FAILED) : (opened ? SV_TALV_OPENED : SV_TALV_FAILED));
    CloseClient(s, p);
  }
}

void fs_openReply(MngInfo *p, PlSocket c, bool opened) {
  bool common = p->msgKind == 6;
  SendClient(c, p, common ? (opened ? SV_COMMON_OPENED : SV_COMMON_FAILED) : (opened ? SV_TALV_OPENED : SV_TALV_FAILED));
  CloseClient(c, p);
}

void fs_open(PlSocket c, MngInfo *p) {
  p->openCount++;
  SockSet_add(&p->openWaiters, c);
  if (p->msgKind == 6)
    SockSet_add(&p->commonOpenWaiters, c);
  switch (p->state) {
  case 0:
    if (ExecAgent(p)) {
      p->state = 2;
      p->remoteStarting = p->localStarting = 0;
    } else {
      p->openCount--;
      FailOpeners(p);
    }
    break;
  case 1:
    if (SendAgent(p, SV_ACS_RESET) < 0)
      fs_openReply(p, c, false);
    break;
  case 3:
    fs_openReply(p, c, true);
    break;
  case 6:
  case 99:
    FailOpeners(p);
    break;
  default: // 2, 4, 5: waits
    break;
  }
}

void fs_close(PlSocket c, MngInfo *p) {
  SendClient(c, p, p->msgKind == 7 ? SV_COMMON_CLOSED : SV_TALV_CLOSED);
  CloseClient(c, p);
  if (p->openCount > 0)
    p->openCount--;
  if (p->state == 1)
    StopIfIdle(p);
}

void fs_starting(PlSocket c, MngInfo *p) {
  CloseClient(c, p);
  if (p->state != 2 || !p->remoteStarting || !p->localStarting)
    return;
  p->state = 1;
  if (p->pendingStop != 0) {
    p->msgKind = p->pendingStop;
    HandleStopRequest(FindStopRequester(p), p);
    return;
  }
  if (HasOpenWaiter(p))
    AnswerOpeners(p);
  if (p->noNotice == 0 && p->talvOpen == 1 && SendAgent(p, SV_ACS_NOTICE) >= 0)
    return;
  StopIfIdle(p);
}

void fs_reset(PlSocket c, MngInfo *p) {
  CloseClient(c, p);
  p->openCount = 0;
  FailOpeners(p);
  if (IsAgentRunning(p)) {
    p->state = 99;
  } else {
    FinishPendingStop(p, 1);
    p->state = 0;
  }
}

void fs_answer(PlSocket c, MngInfo *p) {
  uint32_t k = p->msgKind;
  CloseAcs(c, p);
  switch (k) {
  case 47:
  case 48:
    if (k == 47)
      p->noNotice = 1;
    p->talvOpen = 0;
    if (p->state == 3) {
      p->state = 1;
      StopIfIdle(p);
    }
    break;
  case 45:
    if (p->state == 4) {
      p->state = 1;
      AnswerOpeners(p);
      if (p->noNotice == 0 && p->talvOpen == 1)
        SendAgent(p, SV_ACS_NOTICE);
    }
    break;
  case 46:
    if (p->state == 4) {
      p->state = 1;
      FailOpeners(p);
    }
    break;
  case 41:
  case 43:
    if (p->state == 5) {
      p->state = 6;
      FailOpeners(p);
    }
    break;
  case 42:
    if (p->state == 5) {
      FinishPendingStop(p, 0);
      p->state = 1;
      FailOpeners(p);
    }
    break;
  case 44:
    if (p->state == 5) {
      if (p->pendingStop == 3) {
        p->state = 1;
        p->msgKind = 3;
        HandleStopRequest(FindStopRequester(p), p);
      } else {
        FinishPendingStop(p, 0);
        p->state = 1;
        if (HasOpenWaiter(p) && SendAgent(p, SV_ACS_RESET) < 0)
          FailOpeners(p);
      }
    }
    break;
  default:
    break;
  }
}

void fs_other(PlSocket c, MngInfo *p) {
  if (c == PL_INVALID_SOCKET)
    return;
  if (c == p->noticeSock) {
    CloseAcs(c, p);
    if (p->state == 3) {
      p->state = 1;
      StopIfIdle(p);
    }
  } else if (c == p->resetSock) {
    CloseAcs(c, p);
    if (p->state == 4) {
      p->state = 1;
      FailOpeners(p);
    }
  } else if (c == p->safeStopSock || c == p->stopSock) {
    CloseAcs(c, p);
    if (p->state == 5) {
      FailOpeners(p);
      if (IsAgentRunning(p)) {
        FinishPendingStop(p, 0);
        p->state = 1;
      } else {
        FinishPendingStop(p, 1);
        p->state = 0;
      }
    }
  } else {
    CloseClient(c, p);
  }
}

void fs_logState(uint32_t from, uint32_t to) { PutStatusMessage(21817, static_cast<int>(from), static_cast<int>(to)); }

} // namespace

void AnswerOpeners(MngInfo *p) { fs_answerOpeners(p, true); }
void FailOpeners(MngInfo *p) { fs_answerOpeners(p, false); }

int HasOpenWaiter(MngInfo *p) {
  for (int32_t i = 0; i <= p->clientTop && i < SV_MAX_SOCKETS; ++i)
    if (p->clientSocks[i] != PL_INVALID_SOCKET && SockSet_contains(&p->openWaiters, p->clientSocks[i]))
      return 1;
  return 0;
}

void StopIfIdle(MngInfo *p) {
  if (p->openCount <= 0 && p->alwaysOn == 0)
    SendAgent(p, SV_ACS_SAFESTOP);
}

void DispatchMessage(PlSocket c, MngInfo *p) {
  switch (p->msgKind) {
  case 1:
    p->talvOpen = 1;
    fs_open(c, p);
    break;
  case 6:
    fs_open(c, p);
    break;
  case 2:
  case 7:
    fs_close(c, p);
    break;
  case 3:
  case 4:
  case 5:
    HandleStopRequest(c, p);
    break;
  case 31:
    remoteStartingSeen = 1;
    p->remoteStarting = 1;
    fs_starting(c, p);
    break;
  case 33:
    localStartingSeen = 1;
    p->localStarting = 1;
    fs_starting(c, p);
    break;
  case 32:
    fs_reset(c, p);
    break;
  case 41: case 42: case 43: case 44: case 45: case 46: case 47: case 48:
    fs_answer(c, p);
    break;
  default:
    fs_other(c, p);
    break;
  }
}

void OnStateTimeout(MngInfo *p) {
  switch (p->state) {
  case 0:
    break;
  case 1:
    if (!IsAgentRunning(p)) {
      fs_logState(1, 0);
      p->state = 0;
    }
    break;
  case 2:
    PutMessage(21006);
    FailOpeners(p);
    p->state = 99;
    if (IsAgentRunning(p)) {
      KillAgentTree(p);
      FinishPendingStop(p, 1);
      fs_logState(2, 99);
      if (!(localStartingSeen && remoteStartingSeen))
        exitRequested = 1;
    } else {
      FinishPendingStop(p, 1);
      fs_logState(2, 0);
      p->state = 0;
      exitRequested = 1;
    }
    break;
  case 3:
    if (!IsAgentRunning(p)) {
      CloseAcs(p->noticeSock, p);
      fs_logState(3, 0);
      p->state = 0;
    }
    break;
  case 4:
    PutMessage(21008);
    CloseAcs(p->resetSock, p);
    FailOpeners(p);
    if (IsAgentRunning(p)) {
      fs_logState(4, 1);
      p->state = 1;
    } else {
      fs_logState(4, 0);
      p->state = 0;
    }
    break;
  case 5:
    PutMessage(21008);
    CloseAcs(p->noticeSock, p);
    CloseAcs(p->resetSock, p);
    CloseAcs(p->safeStopSock, p);
    CloseAcs(p->stopSock, p);
    FailOpeners(p);
    if (IsAgentRunning(p)) {
      FinishPendingStop(p, 0);
      fs_logState(5, 1);
      p->state = 1;
    } else {
      FinishPendingStop(p, 1);
      fs_logState(5, 0);
      p->state = 0;
    }
    break;
  default:
    if (!IsAgentRunning(p)) {
      FinishPendingStop(p, 1);
      fs_logState(p->state, 0);
      p->state = 0;
    }
    break;
  }
}
