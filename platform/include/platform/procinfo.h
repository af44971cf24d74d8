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
// Separator of the entries of PATH (';' or ':').
extern const char pl_path_list_sep;
