// The watch loop over the daemon's sockets, its socket wrappers and the
// bookkeeping of the connection table.
#include "sv_watch.h"

#include "mwa_error.h"
#include "mwa_socket.h"
#include "platform/clock.h"
#include "sv_dispatch.h"
#include "sv_error.h"
#include "sv_http.h"

static const char fs_moduleName[] = "sv_watch";

namespace {

// A stalled peer must not hold the single-threaded daemon: a read that
// waits this long becomes a read error.
const int kReceiveLimitMs = 5000;

} // namespace

void SockSet_add(SockSet *set, PlSocket s) {
  if (SockSet_contains(set, s) || set->count >= SV_MAX_SOCKETS)
    return;
  set->socks[set->count++] = s;
}

void SockSet_remove(SockSet *set, PlSocket s) {
  for (int32_t i = 0; i < set->count; ++i)
    if (set->socks[i] == s) {
      for (int32_t j = i + 1; j < set->count; ++j)
        set->socks[j - 1] = set->socks[j];
      set->socks[--set->count] = PL_INVALID_SOCKET;
      return;
    }
}

int SockSet_contains(const SockSet *set, PlSocket s) {
  for (int32_t i = 0; i < set->count; ++i)
    if (set->socks[i] == s)
      return 1;
  return 0;
}

PlSocket Socket(int family, MngInfo *pMngInfo, int *err) {
  PlSocket s = mwa_socket(family);
  if (s == PL_INVALID_SOCKET) {
    *err = mwa_getlasterror();
    if (*err != PL_SOCK_EAFNOSUPPORT) {
      PutErrorDetail(SV_LINE_SYSCALL, "Socket", 66, "socket", *err, pMngInfo->openCount, "?", PL_INVALID_SOCKET);
      PutSystemError(*err);
    }
  }
  return s;
}

int Bind(PlSocket s, const PlSockAddr *addr, MngInfo *p) {
  int rc = mwa_bind(s, addr);
  if (rc != 0) {
    int e = mwa_getlasterror();
    PutErrorDetail(SV_LINE_SYSCALL, "Bind", 28, "bind", e, p->openCount, "?", PL_INVALID_SOCKET);
    PutSystemError(e);
    PutMessage(21015);
  }
  return rc;
}

int Listen(PlSocket s, int backlog, MngInfo *p) {
  int rc = mwa_listen(s, backlog);
  if (rc != 0) {
    int e = mwa_getlasterror();
    PutErrorDetail(SV_LINE_SYSCALL, "Listen", 45, "listen", e, p->openCount, "?", PL_INVALID_SOCKET);
    PutSystemError(e);
    PutMessage(21015);
  }
  return rc;
}

PlSocket Accept(PlSocket listener, PlSockAddr *peer, MngInfo *p) {
  for (;;) {
    PlSocket c = mwa_accept(listener, peer);
    if (c != PL_INVALID_SOCKET)
      return c;
    int e = mwa_getlasterror();
    if (e == PL_SOCK_EINTR)
      continue;
    PutErrorDetail(SV_LINE_SYSCALL, "Accept", 90, "accept", e, p->openCount, "?", PL_INVALID_SOCKET);
    PutSystemError(e);
    return PL_INVALID_SOCKET;
  }
}

void CloseListenSockets(MngInfo *p, int message) {
  for (PlSocket &s : p->listenSocks)
    if (s != PL_INVALID_SOCKET) {
      mwa_closesocket(s);
      SockSet_remove(&p->readSet, s);
      s = PL_INVALID_SOCKET;
    }
  PutMessage(message);
  p->listenSock = PL_INVALID_SOCKET;
  p->listenCount = 0;
}

// The control protocol has no authentication: it listens on the loopback
// addresses only (::1 when the machine has it, and 127.0.0.1), never on
// the wildcard address.
PlSocket ExecuteListener(MngInfo *p) {
  PlSockAddr addrs[2];
  int families[2];
  int n = 0;
  if (mwa_getloopback6(&addrs[n], p->agentPort) == 0)
    families[n++] = PL_AF_INET6;
  mwa_setloopback4(&addrs[n], p->agentPort);
  families[n++] = PL_AF_INET;
  for (int i = 0; i < n && p->listenCount < SV_MAX_SOCKETS; ++i) {
    int err = 0;
    PlSocket s = Socket(families[i], p, &err);
    if (s == PL_INVALID_SOCKET) {
      if (families[i] == PL_AF_INET6 && err == PL_SOCK_EAFNOSUPPORT)
        continue; // no IPv6 here
      PutErrorDetail(SV_LINE_ROUTINE, "ExecuteListener", 428, "Socket", -1, p->openCount, "?", PL_INVALID_SOCKET);
      CloseListenSockets(p, 21015);
      break;
    }
    p->listenSocks[p->listenCount] = s;
    if (families[i] == PL_AF_INET6)
      pl_sock_v6only(s);
    pl_sock_reuse(s);
    int rc = Bind(s, &addrs[i], p);
    if (rc != 0) {
      PutErrorDetail(SV_LINE_ROUTINE, "ExecuteListener", 450, "Bind", rc, p->openCount, "?", PL_INVALID_SOCKET);
      CloseListenSockets(p, 21818);
      break;
    }
    rc = Listen(s, 50, p);
    if (rc != 0) {
      PutErrorDetail(SV_LINE_ROUTINE, "ExecuteListener", 459, "Listen", rc, p->openCount, "?", PL_INVALID_SOCKET);
      CloseListenSockets(p, 21818);
      break;
    }
    SockSet_add(&p->readSet, s);
    if (static_cast<uint64_t>(s) >= p->maxFd)
      p->maxFd = static_cast<uint32_t>(s + 1);
    p->listenSock = s;
    p->listenCount++;
  }
  return p->listenSock;
}

PlSocket InitListenSocket(MngInfo *p) {
  if (p->listenSock != PL_INVALID_SOCKET)
    CloseListenSockets(p, 21818);
  ExecuteListener(p);
  if (p->listenSock != PL_INVALID_SOCKET)
    PutMessage(21832);
  return p->listenSock;
}

int RegisterConnection(PlSocket s, MngInfo *p) {
  int32_t index = -1;
  for (int32_t i = 0; i < SV_MAX_SOCKETS && index < 0; ++i)
    if (p->clientSocks[i] == PL_INVALID_SOCKET)
      index = i;
  // The wait set holds the listeners too: a connection it has no room for
  // would never be read and its requester would wait for ever, so it is
  // refused like one the table has no room for.
  if (index < 0 || p->readSet.count >= SV_MAX_SOCKETS) {
    mwa_closesocket(s);
    return -1;
  }
  pl_sock_recv_timeout(s, kReceiveLimitMs);
  p->clientSocks[index] = s;
  SockSet_add(&p->readSet, s);
  if (static_cast<uint64_t>(s) >= p->maxFd)
    p->maxFd = static_cast<uint32_t>(s + 1);
  if (index > p->clientTop)
    p->clientTop = index;
  return 0;
}

void CloseClient(PlSocket s, MngInfo *p) {
  if (s == PL_INVALID_SOCKET)
    return;
  mwa_closesocket(s);
  SockSet_remove(&p->readSet, s);
  SockSet_remove(&p->openWaiters, s);
  SockSet_remove(&p->commonOpenWaiters, s);
  SockSet_remove(&p->stopWaiters, s);
  for (int32_t i = 0; i < SV_MAX_SOCKETS; ++i)
    if (p->clientSocks[i] == s)
      p->clientSocks[i] = PL_INVALID_SOCKET;
}

void CloseAcs(PlSocket s, MngInfo *p) {
  if (s == PL_INVALID_SOCKET)
    return;
  CloseClient(s, p);
  if (s == p->noticeSock)
    p->noticeSock = PL_INVALID_SOCKET;
  else if (s == p->resetSock)
    p->resetSock = PL_INVALID_SOCKET;
  else if (s == p->stopSock)
    p->stopSock = PL_INVALID_SOCKET;
  else if (s == p->safeStopSock)
    p->safeStopSock = PL_INVALID_SOCKET;
}

namespace {

struct Period {
  int wait;  // seconds
  int limit; // seconds; 0: none
};

Period fs_period(uint32_t state) {
  switch (state) {
  case 0: return {5, 0};
  case 2: return {5, 60};
  case 6:
  case 99: return {1, 1};
  default: return {5, 30};
  }
}

// The wait of one pass, replaceable so that tests need not wait.
int (*fs_scale)(int seconds);
int fs_waitMs(int seconds) { return fs_scale ? fs_scale(seconds) : seconds * 1000; }

} // namespace

void SetWatchTimeScale(int (*toMs)(int seconds)) { fs_scale = toMs; }

namespace {

// One wait of a pass: the sockets of the wait set that became readable.
// 1 when some are, 0 on time-out, -1 on error.
struct Wake {
  SockSet set; // a copy: handling may change the wait set
  bool ready[SV_MAX_SOCKETS];
  bool isReady(PlSocket s) const {
    for (int32_t i = 0; i < set.count; ++i)
      if (set.socks[i] == s)
        return ready[i];
    return false;
  }
};

// Accepts on every readable listener, then reads and dispatches the first
// readable connection's message: one message per wake-up.
void fs_serve(MngInfo *p, const Wake &w, int *acceptErrors) {
  for (uint32_t i = 0; i < p->listenCount && i < SV_MAX_SOCKETS; ++i) {
    PlSocket l = p->listenSocks[i];
    if (l == PL_INVALID_SOCKET || !w.isReady(l))
      continue;
    PlSockAddr peer;
    PlSocket c = Accept(l, &peer, p);
    if (c == PL_INVALID_SOCKET) {
      PutErrorDetail(SV_LINE_ROUTINE, "WatchSocket", 303, "Accept", -1, p->openCount, "?", PL_INVALID_SOCKET);
      if (++*acceptErrors > 3) {
        *acceptErrors = 0;
        CloseListenSockets(p, 21818);
      }
      pl_sleep_ms(static_cast<unsigned>(fs_waitMs(1)));
      continue;
    }
    *acceptErrors = 0;
    RegisterConnection(c, p);
  }
  for (int32_t i = 0; i <= p->clientTop && i < SV_MAX_SOCKETS; ++i) {
    PlSocket c = p->clientSocks[i];
    if (c == PL_INVALID_SOCKET || !w.isReady(c))
      continue;
    int got = ReadHttp(c, p);
    if (got < 0) {
      p->msgKind = 92;
      PutErrorDetail(SV_LINE_ROUTINE, "WatchSocket", 353, "ReadHttp", got, p->openCount, "?", PL_INVALID_SOCKET);
    } else if (got == 0) {
      p->msgKind = 91;
    }
    DispatchMessage(c, p);
    return;
  }
}

} // namespace

int WatchSocket(MngInfo *p) {
  int selectErrors = 0, acceptErrors = 0;
  for (;;) {
    // Top of a pass: listeners, then the state's wait period and limit.
    while (p->listenSock == PL_INVALID_SOCKET && InitListenSocket(p) == PL_INVALID_SOCKET) {
      PutErrorDetail(SV_LINE_ROUTINE, "WatchSocket", 182, "InitListenSocket", -1, p->openCount, "?", PL_INVALID_SOCKET);
      pl_sleep_ms(static_cast<unsigned>(fs_waitMs(1)));
    }
    Period period = fs_period(p->state);
    int idle = 0;
    for (;;) {
      if (p->quit)
        return 0;
      int type = p->callbackGetAsyncStopRequest ? p->callbackGetAsyncStopRequest() : 0;
      if (type) {
        StartAsyncStop(p, type);
        break;
      }
      MWA_CHECK(period.wait != 0);
      Wake w;
      w.set = p->readSet;
      int r = mwa_select(w.set.socks, w.set.count, w.ready, fs_waitMs(period.wait));
      if (r == 0) {
        idle += period.wait;
        if (period.limit == 0 || idle < period.limit)
          continue;
        OnStateTimeout(p);
        if (exitRequested)
          return 0;
        break;
      }
      if (r < 0) {
        int e = mwa_getlasterror();
        if (e != PL_SOCK_EINTR) {
          PutErrorDetail(SV_LINE_SYSCALL, "WatchSocket", 260, "select", e, p->openCount, "?", PL_INVALID_SOCKET);
          PutSystemError(e);
        }
        if (++selectErrors > 3) {
          selectErrors = 0;
          CloseListenSockets(p, 21818);
        }
        pl_sleep_ms(static_cast<unsigned>(fs_waitMs(1)));
        break;
      }
      selectErrors = 0;
      fs_serve(p, w, &acceptErrors);
      break;
    }
  }
}
