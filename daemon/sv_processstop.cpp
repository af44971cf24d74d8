// The agent's process: launch and stop requests.
#include "daemon.h"
#include "mwa_process.h"

// Launching the agent arrives with the process layer; until then no agent
// is started and the daemon runs on in state 0.
int ExecAgent(MngInfo *pMngInfo) {
  (void)pMngInfo;
  return -1;
}

int IsAgentRunning(MngInfo *pMngInfo) {
  MwaErrorInfo e;
  return pMngInfo->agentProcess && MwaProcess_isRunning(pMngInfo->agentProcess, &e);
}
