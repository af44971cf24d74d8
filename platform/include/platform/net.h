// Sockets: what the programs need of the socket library.
#pragma once
#include <cstddef>
#include <cstdint>

// A socket handle; PL_INVALID_SOCKET for none.
typedef intptr_t PlSocket;
const PlSocket PL_INVALID_SOCKET = -1;

// A socket address of either family.
struct PlSockAddr {
  unsigned char bytes[128];
  int len;
};

enum { PL_AF_INET = 4, PL_AF_INET6 = 6 };

// Every socket made here or accepted is not inherited by child processes.
// Calls return -1 (or PL_INVALID_SOCKET) on failure; pl_sock_error tells
// why (Windows: the socket library's number; POSIX: errno).
PlSocket pl_socket_tcp(int family);
PlSocket pl_accept(PlSocket s, PlSockAddr *peer);
int pl_closesocket(PlSocket s);
int pl_connect(PlSocket s, const PlSockAddr *addr);
int pl_bind(PlSocket s, const PlSockAddr *addr);
int pl_listen(PlSocket s, int backlog);
long pl_recv(PlSocket s, void *buf, size_t len);
long pl_send(PlSocket s, const void *data, size_t len);
int pl_sock_error();
// The error numbers of an interrupted call and of an address family the
// system does not support (Windows 10004 and 10047; POSIX EINTR and
// EAFNOSUPPORT).
extern const int PL_SOCK_EINTR;
extern const int PL_SOCK_EAFNOSUPPORT;
// Waits until one of socks is readable: marks ready[i]; returns how many,
// 0 on time-out, -1 on error. timeout_ms -1 waits without limit.
int pl_select_read(const PlSocket *socks, int n, bool *ready, int timeout_ms);
// Options: address reuse for listeners, IPv6 only for IPv6 listeners,
// a receive time limit.
int pl_sock_reuse(PlSocket s);
int pl_sock_v6only(PlSocket s);
int pl_sock_recv_timeout(PlSocket s, int ms);
// 1 when a child process would inherit the socket.
int pl_sock_inheritable(PlSocket s);
// The port the socket is bound to, or -1.
int pl_sock_port(PlSocket s);
// Loopback addresses with a port: 127.0.0.1, and ::1 as the resolver
// gives it (0 or the resolver's error; addr untouched on error).
void pl_sockaddr_loopback4(PlSockAddr *addr, int port);
int pl_sockaddr_loopback6(PlSockAddr *addr, int port);

// Starts the socket library (version 2.0 on Windows). 0 or its error.
int pl_net_startup();
// Text form of the socket's peer: "%d.%d.%d.%d" for IPv4, the numeric
// host form for IPv6, "?" otherwise or when the peer is unknown.
void pl_sock_peer_text(PlSocket s, char *buf, size_t size);
