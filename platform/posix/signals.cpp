#include "platform/signals.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

int pl_on_interrupt(void (*handler)(int)) {
  const int sigs[] = {SIGTERM, SIGQUIT, SIGINT};
  for (int s : sigs) {
    errno = 0;
    if (signal(s, handler) == SIG_ERR)
      return errno ? errno : EINVAL;
  }
  return 0;
}

void pl_exit_now(int status) { _exit(status); }
