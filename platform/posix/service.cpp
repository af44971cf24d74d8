#include "platform/service.h"

// No service manager yet on POSIX: a program started any other way finds
// none, as on Windows.
int pl_service_dispatch(const char *name, void (*service_main)(int, char **)) {
  (void)name;
  (void)service_main;
  return 1063; // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
}
