#include "sv_error.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "mwa_error.h"
#include "mwa_mutex.h"
#include "mwa_system.h"
#include "platform/file.h"

static const char fs_moduleName[] = "sv_error";

namespace {

MwaMutex *fs_mutex;
char fs_peer[128];
bool (*fs_stamp)(char *, int);

struct Entry {
  int number;
  const char *text;
};

const Entry fs_catalogue[] = {
    {21004, "XVRT62620-E Agent socket error."},
    {21005, "XVRT62621-E Socket connect error."},
    {21006, "XVRT62301-W A timeout occurred while waiting for the agent to start."},
    {21007, "XVRT62622-E The start message could not be acquired."},
    {21008, "XVRT62302-W A timeout occurred while waiting for the agent to respond."},
    {21009, "XVRT62041-I The tovx_service started in the always-on mode."},
    {21010, "XVRT62002-I The tovx_service has recieved RESET request successfully."},
    {21011, "XVRT62003-I An NG response was received from the agent."},
    {21012, "XVRT62623-E An attempt to create or execute a process has failed."},
    {21013, "XVRT62624-E Host socket error."},
    {21014, "XVRT62625-E The directory structure is invalid."},
    {21015, "XVRT62626-E Listen socket error."},
    {21016, "XVRT62004-I The tovx_service has started in the normal mode."},
    {21017, "XVRT62627-E Specify a different port number for server.http.port and server.agent.port."},
    {21018, "XVRT62628-E No IP address is specified in server.properties."},
    {21019, "XVRT62629-E Specify a different port number for server.http.port and server.http.localPort."},
    {21020, "XVRT62630-E Specify a different port number for server.agent.port and server.http.localPort."},
    {21021, "XVRT62631-E The message is too long."},
    {21026, "XVRT62636-E An attempt to execute a JAVA check (amc_modinfo -javacheck) has failed."},
    {21027, "XVRT62637-E The installation ID file (amc_iid) was not found."},
    {21028, "XVRT62638-E The value specified for server.agent.maxMemorySize in the server.properties file is not numeric."},
    {21029, "XVRT62639-E The value specified for server.agent.maxMemorySize in the server.properties file is outside the valid range."},
    {21030, "XVRT62640-E The value specified for server.agent.maxStackSize in the server.properties file is not numeric."},
    {21031, "XVRT62641-E The value specified for server.agent.maxStackSize in the server.properties file is outside the valid range."},
    {21814, "XVRT62005-I The tovx_service service was not stopped."},
    {21815, "XVRT62006-I The tovx_service service was stopped."},
    {21816, "XVRT62007-I The tovx_service process was stopped."},
    {21818, "XVRT62009-I The listen socket was closed."},
    {21819, "XVRT62010-I Enter daemon main loop."},
    {21820, "XVRT62011-I Exit daemon main loop."},
    {21832, "XVRT62013-I The listen socket initialized."},
};

const Entry fs_traffic[] = {
    {21801, "XVRT62017-I A 'TALVAgent-OPEN' was received from the '%s'."},
    {21802, "XVRT62019-I A 'TALVAgent-OPENED' was sent to the '%s'."},
    {21803, "XVRT62018-I A 'TALVAgent-CLOSE' was received from the '%s'."},
    {21804, "XVRT62020-I A 'TALVAgent-CLOSED' was sent to the '%s'."},
    {21805, "XVRT62021-I A 'TALVAgent-FAILED' was sent to the '%s'."},
    {21806, "XVRT62027-I A 'TALVAgent-REMOTESTARTING' was received from the '%s'."},
    {21807, "XVRT62028-I A 'TALVAgent-LOCALSTARTING' was received from the '%s'."},
    {21808, "XVRT62035-I A 'ACS-NOTICE' was sent to the '%s'."},
    {21809, "XVRT62034-I A 'ACS-RESET' was sent to the '%s'."},
    {21810, "XVRT62037-I A 'ACS-STOP' was sent to the '%s'."},
    {21811, "XVRT62039-I A 'ACS-OK' was received from the '%s'."},
    {21812, "XVRT62040-I A 'ACS-NG' was received from the '%s'."},
    {21813, "XVRT62029-I A 'TALVAgent-RESET' was received from the '%s'."},
    {21835, "XVRT62030-I A 'TALVAgent-STOP' was received from the '%s'."},
    {21836, "XVRT62031-I A 'TALVAgent-SAFESTOP' was received from the '%s'."},
    {21837, "XVRT62033-I A 'TALVAgent-STOPPED' was sent to the '%s'."},
    {21838, "XVRT62036-I A 'ACS-SAFESTOP' was sent to the '%s'."},
    {21840, "XVRT62038-I A 'ACS-NOTICESTOP' was sent to the '%s'."},
    {21841, "XVRT62032-I A 'TALVAgent-NOTICESTOP' was received from the '%s'."},
    {21842, "XVRT62022-I A 'CommonAgent-OPEN' was received from the '%s'."},
    {21843, "XVRT62023-I A 'CommonAgent-CLOSE' was received from the '%s'."},
    {21844, "XVRT62024-I A 'CommonAgent-OPENED' was received from the '%s'."},
    {21845, "XVRT62025-I A 'CommonAgent-CLOSED' was received from the '%s'."},
    {21846, "XVRT62026-I A 'CommonAgent-FAILED' was received from the '%s'."},
};

const char *fs_find(const Entry *table, size_t n, int number) {
  for (size_t i = 0; i < n; ++i)
    if (table[i].number == number)
      return table[i].text;
  return nullptr;
}

bool fs_clockStamp(char *buf, int size) {
  time_t now = time(nullptr);
  if (now == static_cast<time_t>(-1))
    return false;
  struct tm *tm = localtime(&now); // the writer runs under fs_mutex
  return tm && strftime(buf, static_cast<size_t>(size), "%Y/%m/%d %H:%M:%S", tm) == 19;
}

// Appends one record to the log, rotating it first above 1,000,000 bytes.
void fs_write(const char *text) {
  if (!fs_mutex)
    return;
  MwaMutex_lock(fs_mutex);
  const char *path = mwa_getlogfile();
  char rotated[MWA_PATH_MAX + 2];
  unsigned long long size = 0;
  if (pl_file_size(path, &size) == 0 && size > 1000000ULL &&
      mwa_snprintf(rotated, sizeof rotated, "%s.1", path) >= 0) {
    remove(rotated);
    rename(path, rotated);
  }
  char stamp[20];
  if (!(fs_stamp ? fs_stamp : fs_clockStamp)(stamp, sizeof stamp))
    snprintf(stamp, sizeof stamp, "%s", "----/--/-- --:--:--");
  FILE *fp = pl_file_open(path, "a", 0, nullptr);
  if (fp) {
    // At most 511 characters, then the line end.
    char line[513];
    mwa_snprintf(line, 512, "%s : %s", stamp, text);
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] != '\n') {
      line[n] = '\n';
      line[n + 1] = '\0';
    }
    fputs(line, fp);
    fclose(fp);
  }
  MwaMutex_unlock(fs_mutex);
}

const char *fs_peerText(PlSocket sock) {
  pl_sock_peer_text(sock, fs_peer, sizeof fs_peer);
  return fs_peer;
}

} // namespace

int InitErrorLog() {
  MwaErrorInfo e;
  fs_mutex = MwaMutex_new(&e);
  MWA_CHECK(fs_mutex != NULL);
  return fs_mutex ? 0 : 2;
}

void TermErrorLog() {
  if (!fs_mutex)
    return;
  MwaMutex *m = fs_mutex;
  MwaMutex_lock(m);
  fs_mutex = nullptr;
  MwaMutex_unlock(m);
  MwaMutex_free(m);
}

const char *GetMessageText(int number) {
  return fs_find(fs_catalogue, sizeof fs_catalogue / sizeof *fs_catalogue, number);
}

void PutMessage(int number) {
  const char *text = GetMessageText(number);
  if (!text)
    return;
  char buf[512];
  mwa_snprintf(buf, sizeof buf, "%s", text);
  fs_write(buf);
}

void PutErrorDetail(int kind, const char *routine, int site, const char *op, int code,
                    int64_t openCount, const char *data, PlSocket sock) {
  const char *fmt;
  if (kind == SV_LINE_SYSCALL)
    fmt = "XVRT62632-E %s.%05d %s EC=%d OpenCount=%" PRId64 " Data=%s IP=%s";
  else if (kind == SV_LINE_ROUTINE)
    fmt = "XVRT62634-E %s.%05d %s RC=%d OpenCount=%" PRId64 " Data=%s IP=%s";
  else
    return;
  char buf[512];
  mwa_snprintf(buf, sizeof buf, fmt, routine, site, op, code, openCount, data ? data : "?",
               fs_peerText(sock));
  fs_write(buf);
}

void PutErrorText(const char *text) {
  char buf[512];
  mwa_snprintf(buf, sizeof buf, "XVRT62633-E %s", text);
  fs_write(buf);
}

void PutSystemError(int err) {
  char text[512];
  mwa_errortext(err, text, sizeof text);
  PutErrorText(text);
}

void PutTrafficMessage(int number, PlSocket sock) {
  const char *fmt = fs_find(fs_traffic, sizeof fs_traffic / sizeof *fs_traffic, number);
  if (!fmt)
    return;
  char buf[512];
  mwa_snprintf(buf, sizeof buf, fmt, fs_peerText(sock));
  fs_write(buf);
}

void PutStatusMessage(int number, int first, int second) {
  char buf[512];
  switch (number) {
  case 21817:
    mwa_snprintf(buf, sizeof buf, "XVRT62008-I The daemon status was changed from %d to %d.", first, second);
    break;
  case 21834:
    mwa_snprintf(buf, sizeof buf, "XVRT62015-I The service status was changed. ServiceStatus=%X.", second);
    break;
  case 21833:
    mwa_snprintf(buf, sizeof buf, "XVRT62014-I A service control was received. ControlCode=%X, ServiceStatus=%X.",
                 first, second);
    break;
  default:
    return;
  }
  fs_write(buf);
}

void SetLogClock(bool (*stamp)(char *buf, int size)) { fs_stamp = stamp; }
