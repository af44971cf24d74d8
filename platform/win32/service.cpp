#include "platform/service.h"

#include <windows.h>

namespace {
void (*fs_main)(int, char **);
void WINAPI fs_entry(DWORD argc, LPSTR *argv) { fs_main(static_cast<int>(argc), argv); }
} // namespace

int pl_service_dispatch(const char *name, void (*service_main)(int, char **)) {
  fs_main = service_main;
  SERVICE_TABLE_ENTRYA table[2] = {{const_cast<char *>(name), fs_entry}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(GetLastError());
}
