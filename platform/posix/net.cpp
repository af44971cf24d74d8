#include "platform/net.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

int pl_net_startup() { return 0; }


#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

PlSocket pl_socket_tcp(int family) {
  return socket(family == PL_AF_INET6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

PlSocket pl_accept(PlSocket s, PlSockAddr *peer) {
  socklen_t len = sizeof peer->bytes;
  int fd = accept4(static_cast<int>(s), reinterpret_cast<struct sockaddr *>(peer->bytes), &len, SOCK_CLOEXEC);
  peer->len = fd >= 0 ? static_cast<int>(len) : 0;
  return fd;
}

int pl_closesocket(PlSocket s) { return close(static_cast<int>(s)); }

int pl_connect(PlSocket s, const PlSockAddr *addr) {
  return connect(static_cast<int>(s), reinterpret_cast<const struct sockaddr *>(addr->bytes),
                 static_cast<socklen_t>(addr->len));
}

int pl_bind(PlSocket s, const PlSockAddr *addr) {
  return bind(static_cast<int>(s), reinterpret_cast<const struct sockaddr *>(addr->bytes),
              static_cast<socklen_t>(addr->len));
}

int pl_listen(PlSocket s, int backlog) { return listen(static_cast<int>(s), backlog); }

long pl_recv(PlSocket s, void *buf, size_t len) { return recv(static_cast<int>(s), buf, len, 0); }

long pl_send(PlSocket s, const void *data, size_t len) {
  return send(static_cast<int>(s), data, len, MSG_NOSIGNAL);
}

int pl_sock_error() { return errno; }
const int PL_SOCK_EINTR = EINTR;
const int PL_SOCK_EAFNOSUPPORT = EAFNOSUPPORT;

int pl_select_read(const PlSocket *socks, int n, bool *ready, int timeout_ms) {
  std::vector<struct pollfd> p(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    p[static_cast<size_t>(i)] = {static_cast<int>(socks[i]), POLLIN, 0};
  int r = poll(p.data(), static_cast<nfds_t>(n), timeout_ms);
  for (int i = 0; i < n; ++i)
    ready[i] = r > 0 && (p[static_cast<size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR));
  return r;
}

int pl_sock_reuse(PlSocket s) {
  int one = 1;
  return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

int pl_sock_v6only(PlSocket s) {
  int one = 1;
  return setsockopt(static_cast<int>(s), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
}

int pl_sock_recv_timeout(PlSocket s, int ms) {
  struct timeval tv = {ms / 1000, (ms % 1000) * 1000};
  return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

int pl_sock_inheritable(PlSocket s) {
  int flags = fcntl(static_cast<int>(s), F_GETFD);
  return flags >= 0 && !(flags & FD_CLOEXEC);
}



