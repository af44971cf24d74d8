// Text of system error numbers.
#pragma once
#include <cstddef>

// Text for a C library error number (errno), into buf; returns buf.
const char *pl_strerror(int err, char *buf, size_t size);
