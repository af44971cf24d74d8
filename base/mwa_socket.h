// The socket layer: TCP on the loopback interface, every socket kept from
// child processes.
#pragma once
#include <cstddef>

#include "platform/net.h"

const PlSocket MWA_INVALID_SOCKET = PL_INVALID_SOCKET;
typedef PlSockAddr MwaSockAddr;

PlSocket mwa_socket(int family);
PlSocket mwa_accept(PlSocket s, MwaSockAddr *peer);
int mwa_closesocket(PlSocket s);
int mwa_connect(PlSocket s, const MwaSockAddr *addr);
int mwa_bind(PlSocket s, const MwaSockAddr *addr);
int mwa_listen(PlSocket s, int backlog);
int mwa_select(const PlSocket *socks, int n, bool *ready, int timeout_ms);
long mwa_readsocket(PlSocket s, void *buf, size_t len);
long mwa_writesocket(PlSocket s, const void *data, size_t len);
int mwa_getlasterror();
void mwa_setloopback4(MwaSockAddr *addr, int port);
int mwa_getloopback6(MwaSockAddr *addr, int port);
void mwa_sleep(unsigned seconds);
