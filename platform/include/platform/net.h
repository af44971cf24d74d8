// Sockets: what the programs need of the socket library.
#pragma once
#include <cstddef>
#include <cstdint>

// A socket handle; PL_INVALID_SOCKET for none.
typedef intptr_t PlSocket;
const PlSocket PL_INVALID_SOCKET = -1;

// Starts the socket library (version 2.0 on Windows). 0 or its error.
int pl_net_startup();
// Text form of the socket's peer: "%d.%d.%d.%d" for IPv4, the numeric
// host form for IPv6, "?" otherwise or when the peer is unknown.
void pl_sock_peer_text(PlSocket s, char *buf, size_t size);
