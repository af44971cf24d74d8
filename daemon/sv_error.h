// The service log: tovxservice.log, its catalogue of numbered messages and
// the detailed error lines.
#pragma once
#include <cstdint>

#include "platform/net.h"

// Line kinds of PutErrorDetail.
enum { SV_LINE_SYSCALL = 21022, SV_LINE_ROUTINE = 21024 };

int InitErrorLog();
void TermErrorLog();
void PutMessage(int number);
void PutErrorDetail(int kind, const char *routine, int site, const char *op, int code,
                    int64_t openCount, const char *data, PlSocket sock);
void PutErrorText(const char *text);
void PutSystemError(int err);
void PutTrafficMessage(int number, PlSocket sock);
void PutStatusMessage(int number, int first, int second);

// The catalogue text of a message number, or null.
const char *GetMessageText(int number);
// Replaces the time-stamp source (tests): fills 20 bytes, false when no
// time is to be had. Null restores the clock.
void SetLogClock(bool (*stamp)(char *buf, int size));
