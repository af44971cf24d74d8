// Interruption: console interrupt, break and termination requests.
#pragma once

// Installs handler with signal() for SIGINT, SIGTERM and the break signal
// (SIGBREAK on Windows, SIGQUIT on POSIX). Returns 0, or the errno value
// of the first installation that failed.
int pl_on_interrupt(void (*handler)(int));
// Ends the process at once with status, without running exit handlers;
// safe inside a signal handler.
[[noreturn]] void pl_exit_now(int status);
