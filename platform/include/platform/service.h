// The service manager: as a service program sees it (dispatcher, control
// handler, status reports) and as a controlling program sees it (create,
// configure, start, control, query, delete). On Windows the system's
// service manager; on POSIX a stand-in of ours (docs/ARCHITECTURE.md).
// Routines that can fail return a Windows error number: 0 on success.
#pragma once
#include <cstdint>

// The Windows error numbers the service manager answers with.
enum {
  PL_SVC_ERR_FILE_NOT_FOUND = 2,
  PL_SVC_ERR_ACCESS_DENIED = 5,
  PL_SVC_ERR_INVALID_HANDLE = 6,
  PL_SVC_ERR_INVALID_NAME = 123,
  PL_SVC_ERR_INVALID_SERVICE_CONTROL = 1052,
  PL_SVC_ERR_REQUEST_TIMEOUT = 1053,
  PL_SVC_ERR_ALREADY_RUNNING = 1056,
  PL_SVC_ERR_DOES_NOT_EXIST = 1060,
  PL_SVC_ERR_CANNOT_ACCEPT_CTRL = 1061,
  PL_SVC_ERR_NOT_ACTIVE = 1062,
  PL_SVC_ERR_CONTROLLER_CONNECT = 1063,
  PL_SVC_ERR_SPECIFIC = 1066,
  PL_SVC_ERR_PROCESS_ABORTED = 1067,
  PL_SVC_ERR_MARKED_FOR_DELETE = 1072,
  PL_SVC_ERR_EXISTS = 1073,
};

// Service states, controls and accepted-control bits, with the Windows
// numbers.
enum {
  PL_SVC_STOPPED = 1,
  PL_SVC_START_PENDING = 2,
  PL_SVC_STOP_PENDING = 3,
  PL_SVC_RUNNING = 4,
};
enum {
  PL_SVC_CONTROL_STOP = 1,
  PL_SVC_CONTROL_INTERROGATE = 4,
  PL_SVC_CONTROL_SHUTDOWN = 5,
};
enum {
  PL_SVC_ACCEPT_STOP = 1,
  PL_SVC_ACCEPT_SHUTDOWN = 4,
};
enum {
  PL_SVC_WIN32_OWN_PROCESS = 0x10,
  PL_SVC_AUTO_START = 2,
  PL_SVC_DEMAND_START = 3,
  PL_SVC_ERROR_NORMAL = 1,
};

// The service status record, field for field the system's.
struct PlServiceStatus {
  uint32_t service_type;
  uint32_t current_state;
  uint32_t controls_accepted;
  uint32_t win32_exit_code;
  uint32_t service_exit_code;
  uint32_t check_point;
  uint32_t wait_hint;
};

// --- the service program's side ---

// Hands the calling thread to the service manager's dispatcher with one
// service entry. Returns when the service has stopped (0), or at once
// with the system's error when the process was not started by the
// service manager (1063).
int pl_service_dispatch(const char *name, void (*service_main)(int argc, char **argv));

// Registers the service's control handler (called on the dispatcher's
// thread). Returns the status handle, or 0 with *err set.
typedef uintptr_t PlServiceStatusHandle;
PlServiceStatusHandle pl_service_register_handler(const char *name, void (*handler)(uint32_t control),
                                                  int *err);
int pl_service_set_status(PlServiceStatusHandle handle, const PlServiceStatus *status);

// --- a controlling program's side ---

struct PlScHandleRec;
typedef PlScHandleRec *PlScHandle;

// Definition of a new service. Null texts are "none".
struct PlServiceDef {
  const char *name;
  const char *display_name;
  uint32_t type;
  uint32_t start_type;
  uint32_t error_control;
  const char *image_path;
};

int pl_scm_open(PlScHandle *out);
int pl_svc_open(PlScHandle scm, const char *name, PlScHandle *out);
int pl_svc_create(PlScHandle scm, const PlServiceDef *def, PlScHandle *out);
// Replaces the program path and display name; the rest stays.
int pl_svc_change_config(PlScHandle svc, const char *image_path, const char *display_name);
int pl_svc_set_description(PlScHandle svc, const char *description);
int pl_svc_start(PlScHandle svc, int argc, const char **argv);
// Sends a control; *status is the service's status after it (also on
// some failures, as on Windows).
int pl_svc_control(PlScHandle svc, uint32_t control, PlServiceStatus *status);
int pl_svc_query(PlScHandle svc, PlServiceStatus *status);
struct PlServiceConfig {
  uint32_t type;
  uint32_t start_type;
  uint32_t error_control;
  char image_path[1024];
  char display_name[256];
};
int pl_svc_query_config(PlScHandle svc, PlServiceConfig *config);
int pl_svc_delete(PlScHandle svc);
void pl_sc_close(PlScHandle h);
