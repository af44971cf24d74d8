// Console events and handlers that see them before earlier ones.
#pragma once

// Event codes, as Windows numbers them. On POSIX the events are signals:
// SIGINT for Ctrl+C, SIGQUIT for Ctrl+Break, SIGHUP for close and log-off,
// SIGTERM for shutdown.
enum {
  PL_CTRL_C = 0,
  PL_CTRL_BREAK = 1,
  PL_CTRL_CLOSE = 2,
  PL_CTRL_LOGOFF = 5,
  PL_CTRL_SHUTDOWN = 6,
};

// Registers handler ahead of every handler registered before it. A
// handler that returns 1 consumes the event: the earlier ones never see
// it. On Windows it is called for every event. On POSIX it is asked once,
// here, for each signal's event; the signals it consumes get a handler
// that swallows them, and the others are left as they are. 0 or errno.
int pl_console_add_handler(int (*handler)(int event));
// The console's output code page; 0 without a console (always 0 on POSIX,
// whose programs are not tied to a code page).
unsigned pl_console_output_cp();
