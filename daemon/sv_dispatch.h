// The daemon's state machine: what each control message and each state's
// time-out does.
#pragma once
#include "daemon.h"

// Daemon-wide values of the state machine.
extern int exitRequested;
extern int remoteStartingSeen;
extern int localStartingSeen;

void DispatchMessage(PlSocket c, MngInfo *pMngInfo);
void OnStateTimeout(MngInfo *pMngInfo);
void AnswerOpeners(MngInfo *pMngInfo);
void FailOpeners(MngInfo *pMngInfo);
int HasOpenWaiter(MngInfo *pMngInfo);
void StopIfIdle(MngInfo *pMngInfo);

// The agent's process and stop requests (sv_processstop).
void KillAgentTree(MngInfo *pMngInfo);
void HandleStopRequest(PlSocket s, MngInfo *pMngInfo);
void StartAsyncStop(MngInfo *pMngInfo, int type);
void FinishPendingStop(MngInfo *pMngInfo, int stopped);
PlSocket FindStopRequester(MngInfo *pMngInfo);
