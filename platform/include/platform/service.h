// The service manager, as a service program sees it.
#pragma once

// Hands the calling thread to the service manager's dispatcher with one
// service entry. Returns when the service has stopped (0), or at once
// with the system's error when the process was not started by the
// service manager (1063).
int pl_service_dispatch(const char *name, void (*service_main)(int argc, char **argv));
