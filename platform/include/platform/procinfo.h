// Facts about the running process.
#pragma once
#include <cstddef>

unsigned long pl_getpid();
// Directory of the running program, without a trailing separator.
// 0 or an errno value.
int pl_self_dir(char *buf, size_t size);
// Sets (value non-null) or removes an environment variable of this process.
int pl_setenv(const char *name, const char *value);
