// Private to the POSIX backend: the socket headers and types the shared
// address code needs.
#pragma once
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

typedef int PlNativeSocket;
inline void pl_set_sock_error(int err) { errno = err; }
