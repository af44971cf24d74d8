// Facts about the running process.
#pragma once
#include <cstddef>

unsigned long pl_getpid();
// Directory of the running program, without a trailing separator.
// 0 or an errno value.
int pl_self_dir(char *buf, size_t size);
// Sets (value non-null) or removes an environment variable of this process.
int pl_setenv(const char *name, const char *value);
// 1 when the variable exists in the process environment (an empty value
// counts), else 0.
int pl_env_exists(const char *name);
// The variable's value into buf. Returns its length; when that is size
// or more nothing is stored. -1 when the variable does not exist.
long pl_getenv(const char *name, char *buf, size_t size);
// The name of the user running the process. 0 or an error number.
int pl_user_name(char *buf, size_t size);
// The process's command line as one text (Windows: as the system holds
// it; POSIX: the arguments joined by blanks), cut to fit.
void pl_command_line(int argc, char **argv, char *buf, size_t size);
// 1 when a 32-bit process runs on 64-bit Windows (looked up at run time;
// 0 when the system cannot tell, and always 0 on POSIX).
int pl_is_wow64();
// 1 when the registry can delete a key in a chosen view
// (RegDeleteKeyExA exists; never on POSIX).
int pl_reg_has_view_delete();

// Separator of the entries of PATH (';' or ':').
extern const char pl_path_list_sep;
