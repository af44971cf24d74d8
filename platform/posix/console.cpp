#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

int (*volatile fs_handler)(int);

int fs_eventOf(int sig) {
  switch (sig) {
  case SIGINT: return PL_CTRL_C;
  case SIGQUIT: return PL_CTRL_BREAK;
  case SIGHUP: return PL_CTRL_CLOSE;
  default: return PL_CTRL_SHUTDOWN;
  }
}

// The signal arrives and is consumed: nothing further happens.
void fs_swallow(int sig) {
  if (fs_handler)
    fs_handler(fs_eventOf(sig));
}

} // namespace

unsigned pl_console_output_cp() { return 0; }

int pl_console_add_handler(int (*handler)(int event)) {
  fs_handler = handler;
  const int sigs[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
  for (int sig : sigs) {
    bool consumed = handler(fs_eventOf(sig)) != 0;
    if (sig == SIGHUP) // close and log-off share the signal
      consumed = consumed || handler(PL_CTRL_LOGOFF) != 0;
    if (!consumed)
      continue;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = fs_swallow;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (sigaction(sig, &sa, nullptr) != 0)
      return errno;
  }
  return 0;
}
