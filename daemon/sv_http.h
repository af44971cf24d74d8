// Control message framing: one HTTP/1.0 exchange per message.
#pragma once
#include <cstdint>

#include "daemon.h"

// Request kinds the daemon sends to the agent.
enum { SV_ACS_NOTICE = 201, SV_ACS_RESET = 202, SV_ACS_STOP = 203, SV_ACS_SAFESTOP = 204, SV_ACS_NOTICESTOP = 205 };
// Reply kinds the daemon sends to requesters.
enum {
  SV_TALV_OPENED = 101,
  SV_TALV_CLOSED = 102,
  SV_TALV_FAILED = 103,
  SV_TALV_STOPPED = 104,
  SV_COMMON_OPENED = 105,
  SV_COMMON_CLOSED = 106,
  SV_COMMON_FAILED = 107,
};

int ReadHttp(PlSocket sock, MngInfo *pMngInfo);
int Readline(PlSocket sock, char *dest, int room, MngInfo *pMngInfo);
int Writen(PlSocket sock, const char *data, int length, MngInfo *pMngInfo);
int SendAgent(MngInfo *pMngInfo, int kind);
int OpenAgentSocket(MngInfo *pMngInfo, int kind);
int SendClient(PlSocket sock, MngInfo *pMngInfo, int kind);
// The message kind of a body read on sock (0 when none matches).
uint32_t ClassifyBody(const char *body, PlSocket sock, const MngInfo *pMngInfo);
// "Mon, 20 Apr 2009 01:20:29 GMT" for a time in seconds since 1970 (UTC);
// false when it cannot be converted.
bool FormatHttpDate(long long unixSeconds, char *buf, int size);
// Replaces the clock of the reply header (tests); null restores it.
void SetHttpClock(long long (*now)());
