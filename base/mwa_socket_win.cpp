#include "mwa_error.h"
#include "mwa_socket.h"
#include "platform/clock.h"

static const char fs_moduleName[] = "mwa_socket_win";

PlSocket mwa_socket(int family) {
  PlSocket s = pl_socket_tcp(family);
  MWA_CHECK(s == MWA_INVALID_SOCKET || !pl_sock_inheritable(s));
  return s;
}

PlSocket mwa_accept(PlSocket s, MwaSockAddr *peer) {
  PlSocket c = pl_accept(s, peer);
  MWA_CHECK(c == MWA_INVALID_SOCKET || !pl_sock_inheritable(c));
  return c;
}

int mwa_closesocket(PlSocket s) { return pl_closesocket(s); }
int mwa_connect(PlSocket s, const MwaSockAddr *addr) { return pl_connect(s, addr); }
int mwa_bind(PlSocket s, const MwaSockAddr *addr) { return pl_bind(s, addr); }
int mwa_listen(PlSocket s, int backlog) { return pl_listen(s, backlog); }
int mwa_select(const PlSocket *socks, int n, bool *ready, int timeout_ms) {
  return pl_select_read(socks, n, ready, timeout_ms);
}
long mwa_readsocket(PlSocket s, void *buf, size_t len) { return pl_recv(s, buf, len); }
long mwa_writesocket(PlSocket s, const void *data, size_t len) { return pl_send(s, data, len); }
int mwa_getlasterror() { return pl_sock_error(); }
void mwa_setloopback4(MwaSockAddr *addr, int port) { pl_sockaddr_loopback4(addr, port); }
int mwa_getloopback6(MwaSockAddr *addr, int port) { return pl_sockaddr_loopback6(addr, port); }
void mwa_sleep(unsigned seconds) { pl_sleep_ms(seconds * 1000); }
