// The watch loop over the daemon's sockets, its socket wrappers and the
// bookkeeping of the connection table.
#include "sv_watch.h"

#include "mwa_socket.h"
#include "sv_error.h"

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

int RegisterConnection(PlSocket s, MngInfo *p) {
  int32_t index = -1;
  for (int32_t i = 0; i < SV_MAX_SOCKETS && index < 0; ++i)
    if (p->clientSocks[i] == PL_INVALID_SOCKET)
      index = i;
  if (index < 0) {
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

// The loop arrives with the listener; until then it ends at once.
void WatchSocket(MngInfo *pMngInfo) { (void)pMngInfo; }
