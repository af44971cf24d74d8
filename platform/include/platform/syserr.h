// Text of system error numbers.
#pragma once
#include <cstddef>

// Text for a C library error number (errno), into buf; returns buf.
const char *pl_strerror(int err, char *buf, size_t size);
// The system's own text for a system error number (Windows: its message
// table in US English; POSIX: the C library's text for errno values) into
// buf, at most size bytes with the terminator. 0 when the system has no
// text that fits; buf is then left as it was.
int pl_system_error_text(int err, char *buf, size_t size);
