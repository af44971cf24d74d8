// The watch loop over the daemon's sockets.
#include "daemon.h"

// The loop arrives with the socket layer; until then it ends at once.
void WatchSocket(MngInfo *pMngInfo) { (void)pMngInfo; }
