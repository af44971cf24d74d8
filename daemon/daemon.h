// The daemon's context record and its routines.
#pragma once
#include <cstdint>

#include "platform/net.h"

struct MwaProcess;

enum { SV_MAX_SOCKETS = 64 };

// Up to 64 sockets in insertion order.
struct SockSet {
  int32_t count;
  PlSocket socks[SV_MAX_SOCKETS];
};

// The daemon's one context record.
struct MngInfo {
  uint32_t msgKind;
  int32_t bufSize;
  char *buf;
  PlSocket *clientSocks;
  uint32_t maxFd;
  int32_t clientTop;
  int64_t openCount;
  SockSet openWaiters;
  SockSet commonOpenWaiters;
  SockSet stopWaiters;
  SockSet readSet;
  uint32_t state;
  int32_t remoteStarting;
  int32_t localStarting;
  uint32_t alwaysOn;
  int32_t noNotice;
  uint32_t talvOpen;
  PlSocket listenSock;
  PlSocket listenSocks[SV_MAX_SOCKETS];
  uint32_t listenCount;
  PlSocket noticeSock, resetSock, safeStopSock, stopSock;
  uint16_t agentPort;
  uint16_t localPort;
  uint16_t httpPort;
  uint32_t pendingStop;
  uint32_t asyncStop;
  uint32_t quit;
  MwaProcess *agentProcess;
  int (*callbackGetAsyncStopRequest)();
  void (*callbackSetAsyncStopResult)(int);
  const char *const *agentArgs;
  uint32_t maxMemorySize;
  int32_t maxStackSize;
};

// Start-up (wm_tcpserv).
int TcpservMain(int argc, char **argv);
int InitTcpserv(MngInfo *pMngInfo, int argc, char **argv, const char *const *scriptArgs);
int ServerMain();
void ShutdownDaemon();
MngInfo *GetMngInfo();

// Service mode (wm_tcpserv): the status record and the stop-request cell.
enum { TCPSERV_ASYNC_STOP_SAFE = 1, TCPSERV_ASYNC_STOP_FORCE = 2 };
void SetServiceState(uint32_t state, uint32_t win32Exit, uint32_t specificExit, uint32_t checkPoint,
                     uint32_t waitHint);
void ReportServiceState();
int ExchangeStopRequest(int value);
// Seams for tests: the control handler and the stop-result routine as
// the service manager and the watch loop call them, and the record.
void ServiceControlForTest(uint32_t control);
void SetAsyncStopResultForTest(int stopped);
const struct PlServiceStatus *GetServiceStatusForTest();

// Configuration (sv_config).
int GetAgentArgData(MngInfo *pMngInfo, int argc, char **argv);
// The same, reading the given file (GetAgentArgData reads
// ../agent/config/server.properties).
int GetAgentArgDataFrom(MngInfo *pMngInfo, const char *path);

// Start-up files (sv_addon).
int AddAddOnPath();
int GetCurrentProps_win();

// The agent (sv_processstop) and the watch loop (sv_watch).
int ExecAgent(MngInfo *pMngInfo); // 1 when the agent process was created
int IsAgentRunning(MngInfo *pMngInfo);
int WatchSocket(MngInfo *pMngInfo);
