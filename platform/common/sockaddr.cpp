// Socket addresses: the same code on both backends, over each one's
// socket headers.
#include "platform/net.h"

#include <cstdio>
#include <cstring>

#include "sockhdr.h"

void pl_sock_peer_text(PlSocket s, char *buf, size_t size) {
  snprintf(buf, size, "?");
  if (s == PL_INVALID_SOCKET)
    return;
  struct sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (getpeername(static_cast<PlNativeSocket>(s), reinterpret_cast<struct sockaddr *>(&ss), &len) != 0)
    return;
  if (ss.ss_family == AF_INET) {
    const unsigned char *b =
        reinterpret_cast<const unsigned char *>(&reinterpret_cast<struct sockaddr_in *>(&ss)->sin_addr);
    snprintf(buf, size, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  } else if (ss.ss_family == AF_INET6) {
    char host[128];
    if (getnameinfo(reinterpret_cast<struct sockaddr *>(&ss), len, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) == 0)
      snprintf(buf, size, "%s", host);
  }
}

int pl_sock_port(PlSocket s) {
  struct sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (getsockname(static_cast<PlNativeSocket>(s), reinterpret_cast<struct sockaddr *>(&ss), &len) != 0)
    return -1;
  if (ss.ss_family == AF_INET)
    return ntohs(reinterpret_cast<struct sockaddr_in *>(&ss)->sin_port);
  if (ss.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<struct sockaddr_in6 *>(&ss)->sin6_port);
  return -1;
}

void pl_sockaddr_loopback4(PlSockAddr *addr, int port) {
  memset(addr, 0, sizeof *addr);
  struct sockaddr_in *in = reinterpret_cast<struct sockaddr_in *>(addr->bytes);
  in->sin_family = AF_INET;
  in->sin_port = htons(static_cast<unsigned short>(port));
  in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr->len = sizeof *in;
}

int pl_sockaddr_loopback6(PlSockAddr *addr, int port) {
  struct addrinfo hints, *res = nullptr;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  int rc = getaddrinfo("::1", nullptr, &hints, &res);
  pl_set_sock_error(rc);
  if (rc != 0)
    return rc;
  memset(addr, 0, sizeof *addr);
  struct sockaddr_in6 *in6 = reinterpret_cast<struct sockaddr_in6 *>(addr->bytes);
  in6->sin6_family = AF_INET6;
  in6->sin6_port = htons(static_cast<unsigned short>(port));
  memcpy(&in6->sin6_addr, &reinterpret_cast<struct sockaddr_in6 *>(res->ai_addr)->sin6_addr, 16);
  addr->len = sizeof *in6;
  freeaddrinfo(res);
  return 0;
}

