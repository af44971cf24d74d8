// The watch loop's socket wrappers and connection bookkeeping.
#pragma once
#include "daemon.h"

// Socket sets: insertion order; adding one present or to a full set
// changes nothing; removing closes the gap.
void SockSet_add(SockSet *set, PlSocket s);
void SockSet_remove(SockSet *set, PlSocket s);
int SockSet_contains(const SockSet *set, PlSocket s);

PlSocket Socket(int family, MngInfo *pMngInfo, int *err);
int Bind(PlSocket s, const PlSockAddr *addr, MngInfo *pMngInfo);
int Listen(PlSocket s, int backlog, MngInfo *pMngInfo);
PlSocket Accept(PlSocket listener, PlSockAddr *peer, MngInfo *pMngInfo);
PlSocket InitListenSocket(MngInfo *pMngInfo);
PlSocket ExecuteListener(MngInfo *pMngInfo);
void CloseListenSockets(MngInfo *pMngInfo, int message);
int RegisterConnection(PlSocket s, MngInfo *pMngInfo);
void CloseClient(PlSocket s, MngInfo *pMngInfo);
void CloseAcs(PlSocket s, MngInfo *pMngInfo);

// Turns the loop's wait periods (seconds) into milliseconds; tests make
// them short. Null restores seconds.
void SetWatchTimeScale(int (*toMs)(int seconds));

PlSocket SockConnectIPv6(MngInfo *pMngInfo);
PlSocket SockConnectIPv4(MngInfo *pMngInfo);
