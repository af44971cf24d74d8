#include "platform/signals.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <windows.h>

int pl_on_interrupt(void (*handler)(int)) {
  const int sigs[] = {SIGTERM, SIGBREAK, SIGINT};
  for (int s : sigs) {
    errno = 0;
    if (signal(s, handler) == SIG_ERR)
      return errno ? errno : EINVAL;
  }
  return 0;
}

void pl_exit_now(int status) {
  // The console handler thread may call this: end the whole process.
  ExitProcess(static_cast<UINT>(status));
}
