#include "platform/console.h"

#include "internal.h"

namespace {

int (*volatile fs_handler)(int);

BOOL WINAPI fs_onEvent(DWORD event) {
  return fs_handler && fs_handler(static_cast<int>(event)) ? TRUE : FALSE;
}

} // namespace

unsigned pl_console_output_cp() { return GetConsoleOutputCP(); }

int pl_console_add_handler(int (*handler)(int event)) {
  fs_handler = handler;
  return SetConsoleCtrlHandler(fs_onEvent, TRUE) ? 0 : pl_win_errno(GetLastError());
}
