#include "platform/net.h"

#include <cstdio>
#include <winsock2.h>
#include <ws2tcpip.h>

int pl_net_startup() {
  WSADATA d;
  return WSAStartup(MAKEWORD(2, 0), &d);
}


#include <cstring>
#include <vector>

namespace {

// The socket library's handles are inherited by default. Clearing the
// handle's inherit flag keeps the socket intact (wine, for one, cannot use
// a duplicated socket handle); where that fails, duplicate without
// inheritance and close the original.
PlSocket fs_noInherit(SOCKET s) {
  if (s == INVALID_SOCKET)
    return PL_INVALID_SOCKET;
  if (SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0))
    return static_cast<PlSocket>(s);
  HANDLE dup = nullptr;
  BOOL ok = DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(s), GetCurrentProcess(), &dup, 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
  closesocket(s);
  return ok ? static_cast<PlSocket>(reinterpret_cast<intptr_t>(dup)) : PL_INVALID_SOCKET;
}

SOCKET fs_s(PlSocket s) { return static_cast<SOCKET>(s); }

} // namespace

PlSocket pl_socket_tcp(int family) {
  return fs_noInherit(socket(family == PL_AF_INET6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
}

PlSocket pl_accept(PlSocket s, PlSockAddr *peer) {
  int len = sizeof peer->bytes;
  SOCKET c = accept(fs_s(s), reinterpret_cast<struct sockaddr *>(peer->bytes), &len);
  peer->len = c != INVALID_SOCKET ? len : 0;
  return fs_noInherit(c);
}

int pl_closesocket(PlSocket s) { return closesocket(fs_s(s)); }

int pl_connect(PlSocket s, const PlSockAddr *addr) {
  return connect(fs_s(s), reinterpret_cast<const struct sockaddr *>(addr->bytes), addr->len);
}

int pl_bind(PlSocket s, const PlSockAddr *addr) {
  return bind(fs_s(s), reinterpret_cast<const struct sockaddr *>(addr->bytes), addr->len);
}

int pl_listen(PlSocket s, int backlog) { return listen(fs_s(s), backlog); }

long pl_recv(PlSocket s, void *buf, size_t len) {
  return recv(fs_s(s), static_cast<char *>(buf), static_cast<int>(len), 0);
}

long pl_send(PlSocket s, const void *data, size_t len) {
  return send(fs_s(s), static_cast<const char *>(data), static_cast<int>(len), 0);
}

int pl_sock_error() { return WSAGetLastError(); }
const int PL_SOCK_EINTR = WSAEINTR;
const int PL_SOCK_EAFNOSUPPORT = WSAEAFNOSUPPORT;

int pl_select_read(const PlSocket *socks, int n, bool *ready, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < n && i < FD_SETSIZE; ++i)
    FD_SET(fs_s(socks[i]), &set);
  struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int r = select(0, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &tv);
  for (int i = 0; i < n; ++i)
    ready[i] = r > 0 && FD_ISSET(fs_s(socks[i]), &set);
  return r;
}

int pl_sock_reuse(PlSocket s) {
  BOOL one = TRUE;
  return setsockopt(fs_s(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&one), sizeof one);
}

int pl_sock_v6only(PlSocket s) {
  DWORD one = 1;
  return setsockopt(fs_s(s), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&one), sizeof one);
}

int pl_sock_recv_timeout(PlSocket s, int ms) {
  DWORD v = static_cast<DWORD>(ms);
  return setsockopt(fs_s(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&v), sizeof v);
}

int pl_sock_inheritable(PlSocket s) {
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(fs_s(s)), &flags) && (flags & HANDLE_FLAG_INHERIT);
}



