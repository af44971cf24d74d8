#include "platform/service.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct PlScHandleRec {
  SC_HANDLE h;
};

namespace {

void (*fs_main)(int, char **);
void (*fs_handler)(uint32_t);

void WINAPI fs_entry(DWORD argc, LPSTR *argv) { fs_main(static_cast<int>(argc), argv); }
void WINAPI fs_control(DWORD control) {
  if (fs_handler)
    fs_handler(control);
}

int fs_wrap(SC_HANDLE h, PlScHandle *out) {
  if (!h)
    return static_cast<int>(GetLastError());
  *out = new PlScHandleRec{h};
  return 0;
}

int fs_result(BOOL ok) { return ok ? 0 : static_cast<int>(GetLastError()); }

void fs_from(const SERVICE_STATUS &s, PlServiceStatus *out) {
  out->service_type = s.dwServiceType;
  out->current_state = s.dwCurrentState;
  out->controls_accepted = s.dwControlsAccepted;
  out->win32_exit_code = s.dwWin32ExitCode;
  out->service_exit_code = s.dwServiceSpecificExitCode;
  out->check_point = s.dwCheckPoint;
  out->wait_hint = s.dwWaitHint;
}

} // namespace

int pl_service_dispatch(const char *name, void (*service_main)(int, char **)) {
  fs_main = service_main;
  SERVICE_TABLE_ENTRYA table[2] = {{const_cast<char *>(name), fs_entry}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(GetLastError());
}

PlServiceStatusHandle pl_service_register_handler(const char *name, void (*handler)(uint32_t), int *err) {
  fs_handler = handler;
  SERVICE_STATUS_HANDLE h = RegisterServiceCtrlHandlerA(name, fs_control);
  if (!h)
    *err = static_cast<int>(GetLastError());
  return reinterpret_cast<PlServiceStatusHandle>(h);
}

int pl_service_set_status(PlServiceStatusHandle handle, const PlServiceStatus *st) {
  SERVICE_STATUS s;
  s.dwServiceType = st->service_type;
  s.dwCurrentState = st->current_state;
  s.dwControlsAccepted = st->controls_accepted;
  s.dwWin32ExitCode = st->win32_exit_code;
  s.dwServiceSpecificExitCode = st->service_exit_code;
  s.dwCheckPoint = st->check_point;
  s.dwWaitHint = st->wait_hint;
  return fs_result(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &s));
}

int pl_scm_open(PlScHandle *out) { return fs_wrap(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), out); }

int pl_svc_open(PlScHandle scm, const char *name, PlScHandle *out) {
  return fs_wrap(OpenServiceA(scm->h, name, SERVICE_ALL_ACCESS), out);
}

int pl_svc_create(PlScHandle scm, const PlServiceDef *d, PlScHandle *out) {
  return fs_wrap(CreateServiceA(scm->h, d->name, d->display_name, SERVICE_ALL_ACCESS, d->type, d->start_type,
                                d->error_control, d->image_path, nullptr, nullptr, nullptr, nullptr, nullptr),
                 out);
}

int pl_svc_change_config(PlScHandle svc, const char *image_path, const char *display_name) {
  return fs_result(ChangeServiceConfigA(svc->h, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, image_path,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, display_name));
}

int pl_svc_set_description(PlScHandle svc, const char *description) {
  SERVICE_DESCRIPTIONA d;
  d.lpDescription = const_cast<char *>(description);
  return fs_result(ChangeServiceConfig2A(svc->h, SERVICE_CONFIG_DESCRIPTION, &d));
}

int pl_svc_start(PlScHandle svc, int argc, const char **argv) {
  return fs_result(StartServiceA(svc->h, static_cast<DWORD>(argc), argc ? const_cast<const char **>(argv) : nullptr));
}

int pl_svc_control(PlScHandle svc, uint32_t control, PlServiceStatus *status) {
  SERVICE_STATUS s;
  memset(&s, 0, sizeof s);
  int rc = fs_result(ControlService(svc->h, control, &s));
  fs_from(s, status);
  return rc;
}

int pl_svc_query(PlScHandle svc, PlServiceStatus *status) {
  SERVICE_STATUS s;
  memset(&s, 0, sizeof s);
  int rc = fs_result(QueryServiceStatus(svc->h, &s));
  fs_from(s, status);
  return rc;
}

int pl_svc_query_config(PlScHandle svc, PlServiceConfig *c) {
  memset(c, 0, sizeof *c);
  DWORD need = 0;
  QueryServiceConfigA(svc->h, nullptr, 0, &need);
  if (need == 0)
    return static_cast<int>(GetLastError());
  QUERY_SERVICE_CONFIGA *q = static_cast<QUERY_SERVICE_CONFIGA *>(malloc(need));
  if (!q)
    return ERROR_NOT_ENOUGH_MEMORY;
  int rc = fs_result(QueryServiceConfigA(svc->h, q, need, &need));
  if (rc == 0) {
    c->type = q->dwServiceType;
    c->start_type = q->dwStartType;
    c->error_control = q->dwErrorControl;
    snprintf(c->image_path, sizeof c->image_path, "%s", q->lpBinaryPathName ? q->lpBinaryPathName : "");
    snprintf(c->display_name, sizeof c->display_name, "%s", q->lpDisplayName ? q->lpDisplayName : "");
  }
  free(q);
  return rc;
}

int pl_svc_delete(PlScHandle svc) { return fs_result(DeleteService(svc->h)); }

void pl_sc_close(PlScHandle h) {
  if (!h)
    return;
  CloseServiceHandle(h->h);
  delete h;
}
