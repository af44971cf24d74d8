#include "platform/net.h"

#include <cstdio>
#include <winsock2.h>
#include <ws2tcpip.h>

int pl_net_startup() {
  WSADATA d;
  return WSAStartup(MAKEWORD(2, 0), &d);
}

void pl_sock_peer_text(PlSocket s, char *buf, size_t size) {
  snprintf(buf, size, "?");
  if (s == PL_INVALID_SOCKET)
    return;
  struct sockaddr_storage ss;
  int len = sizeof ss;
  if (getpeername(static_cast<SOCKET>(s), reinterpret_cast<struct sockaddr *>(&ss), &len) != 0)
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
