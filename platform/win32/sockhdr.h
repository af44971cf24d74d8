// Private to the Windows backend: the socket headers and types the shared
// address code needs.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>

typedef SOCKET PlNativeSocket;
inline void pl_set_sock_error(int err) { WSASetLastError(err); }
