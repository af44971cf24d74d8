// A service program for the service manager's tests.
//   svc_probe run LOG [NAME]  dispatches as NAME (default "Probe"): logs
//                         its start arguments and every control to LOG,
//                         runs until stopped
//   svc_probe stall       never reaches its dispatcher
//   svc_probe dispatch    dispatches and prints the result (started by
//                         hand: no manager)
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/service.h"

namespace {

const char *fs_log;
const char *fs_name = "Probe";
PlServiceStatusHandle fs_handle;
std::atomic<int> fs_stop;
PlServiceStatus fs_status = {PL_SVC_WIN32_OWN_PROCESS, PL_SVC_START_PENDING, 0, 0, 0, 0, 0};

void fs_append(const std::string &line) {
  FILE *f = fopen(fs_log, "a");
  if (!f)
    return;
  fprintf(f, "%s\n", line.c_str());
  fclose(f);
}

void fs_handler(uint32_t control) {
  fs_append("control " + std::to_string(control));
  if (control == PL_SVC_CONTROL_STOP) {
    fs_status.current_state = PL_SVC_STOP_PENDING;
    pl_service_set_status(fs_handle, &fs_status);
    fs_stop = 1;
  }
}

void fs_main(int argc, char **argv) {
  std::string line = "start";
  for (int i = 0; i < argc; ++i)
    line += std::string(" [") + argv[i] + "]";
  fs_append(line);
  int err = 0;
  fs_handle = pl_service_register_handler(fs_name, fs_handler, &err);
  if (!fs_handle) {
    fs_append("register failed " + std::to_string(err));
    return;
  }
  fs_status.current_state = PL_SVC_RUNNING;
  fs_status.controls_accepted = PL_SVC_ACCEPT_STOP;
  pl_service_set_status(fs_handle, &fs_status);
  while (!fs_stop)
    pl_sleep_ms(20);
  fs_status.current_state = PL_SVC_STOPPED;
  fs_status.win32_exit_code = PL_SVC_ERR_SPECIFIC;
  fs_status.service_exit_code = 7;
  pl_service_set_status(fs_handle, &fs_status);
  fs_append("stopped");
}

} // namespace

int main(int argc, char **argv) {
  if ((argc == 3 || argc == 4) && strcmp(argv[1], "run") == 0) {
    fs_log = argv[2];
    if (argc == 4)
      fs_name = argv[3];
    return pl_service_dispatch(fs_name, fs_main);
  }
  if (argc == 2 && strcmp(argv[1], "stall") == 0) {
    pl_sleep_ms(60000);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "dispatch") == 0) {
    printf("%d\n", pl_service_dispatch("Probe", fs_main));
    return 0;
  }
  return 2;
}
