#include "sv_http.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mwa_error.h"
#include "mwa_socket.h"
#include "mwa_system.h"
#include "sv_error.h"
#include "sv_watch.h"

namespace {

// Read-ahead of the message being read. It is emptied at the start of
// every message, so bytes one peer sent past its message never reach
// another connection.
struct ReadAhead {
  char buf[4096];
  long count;
  long pos;
};
ReadAhead fs_ahead;
long long (*fs_now)();

struct Keyword {
  const char *word;
  uint32_t kind;
  bool anyCase;
  int traffic;
};

const Keyword fs_keywords[] = {
    {"TALVAgent-OPEN", 1, false, 21801},         {"CommonAgent-OPEN", 6, false, 21842},
    {"TALVAgent-CLOSE", 2, false, 21803},        {"CommonAgent-CLOSE", 7, false, 21843},
    {"TALVAgent-STOP", 3, true, 21835},          {"TALVAgent-SAFESTOP", 4, true, 21836},
    {"TALVAgent-NOTICESTOP", 5, true, 21841},    {"TALVAgent-REMOTESTARTING", 31, false, 21806},
    {"TALVAgent-LOCALSTARTING", 33, false, 21807}, {"TALVAgent-RESET", 32, false, 21813},
};

bool fs_startsWith(const char *text, const char *word, bool anyCase) {
  size_t n = strlen(word);
  return anyCase ? mwa_strnicmp(text, word, n) == 0 : strncmp(text, word, n) == 0;
}

const char *fs_requestBody(int kind) {
  switch (kind) {
  case SV_ACS_NOTICE: return "ACS-NOTICE";
  case SV_ACS_RESET: return "ACS-RESET";
  case SV_ACS_STOP: return "ACS-STOP";
  case SV_ACS_SAFESTOP: return "ACS-SAFESTOP";
  case SV_ACS_NOTICESTOP: return "ACS-NOTICESTOP";
  default: return nullptr;
  }
}

PlSocket *fs_slot(MngInfo *p, int kind) {
  switch (kind) {
  case SV_ACS_NOTICE: return &p->noticeSock;
  case SV_ACS_RESET: return &p->resetSock;
  case SV_ACS_STOP: return &p->stopSock;
  default: return &p->safeStopSock;
  }
}

int fs_myRead(PlSocket sock, MngInfo *pMngInfo, char *out) {
  (void)pMngInfo;
  if (fs_ahead.pos >= fs_ahead.count) {
    long n;
    for (;;) {
      n = mwa_readsocket(sock, fs_ahead.buf, sizeof fs_ahead.buf);
      if (n >= 0)
        break;
      int err = mwa_getlasterror();
      if (err == PL_SOCK_EINTR)
        continue;
      PutErrorDetail(SV_LINE_SYSCALL, "fs_myRead", 31, "mwa_readsocket", err, pMngInfo->openCount, "?", sock);
      PutSystemError(err);
      return -1;
    }
    if (n == 0)
      return 0;
    fs_ahead.count = n;
    fs_ahead.pos = 0;
  }
  *out = fs_ahead.buf[fs_ahead.pos++];
  return 1;
}

} // namespace

int Readline(PlSocket sock, char *dest, int room, MngInfo *pMngInfo) {
  if (room <= 1) {
    if (room == 1)
      dest[0] = '\0';
    return 1;
  }
  int stored = 0;
  while (stored < room - 1) {
    char c;
    int r = fs_myRead(sock, pMngInfo, &c);
    if (r < 0) {
      PutErrorDetail(SV_LINE_ROUTINE, "Readline", 67, "fs_myRead", -1, pMngInfo->openCount, "?", sock);
      return -1;
    }
    if (r == 0) {
      dest[stored] = '\0';
      return stored;
    }
    dest[stored++] = c;
    if (c == '\n') {
      dest[stored] = '\0';
      return stored;
    }
  }
  dest[stored] = '\0';
  return room;
}

uint32_t ClassifyBody(const char *body, PlSocket sock, const MngInfo *p) {
  for (const Keyword &k : fs_keywords)
    if (fs_startsWith(body, k.word, k.anyCase)) {
      PutTrafficMessage(k.traffic, sock);
      if (k.kind == 32)
        PutMessage(21010);
      return k.kind;
    }
  bool ok = fs_startsWith(body, "ACS-OK", false);
  bool ng = !ok && fs_startsWith(body, "ACS-NG", false);
  if (!ok && !ng)
    return 0;
  PutTrafficMessage(ok ? 21811 : 21812, sock);
  if (ng)
    PutMessage(21011);
  if (sock == PL_INVALID_SOCKET)
    return 0;
  if (sock == p->noticeSock)
    return ok ? 47 : 48;
  if (sock == p->resetSock)
    return ok ? 45 : 46;
  if (sock == p->safeStopSock)
    return ok ? 43 : 44;
  if (sock == p->stopSock)
    return ok ? 41 : 42;
  return 0; // an answer on a connection that holds no slot
}

int ReadHttp(PlSocket sock, MngInfo *p) {
  p->msgKind = 0;
  fs_ahead.count = fs_ahead.pos = 0;
  int room = p->bufSize;
  int pos = 0, bodyStart = -1;
  long long contentLength = 0;
  while (room > 0) {
    int r = Readline(sock, p->buf + pos, room, p);
    if (r <= 0) {
      PutErrorDetail(SV_LINE_ROUTINE, "ReadHttp", 38, "Readline", r, p->openCount, "?", sock);
      return r;
    }
    const char *line = p->buf + pos;
    // Readline reports a full buffer as room, one more than it stored.
    int stored = r == room ? room - 1 : r;
    pos += stored;
    room -= r;
    if (bodyStart < 0) {
      if (const char *cl = strstr(line, "Content-Length: ")) {
        contentLength = strtoll(cl + 16, nullptr, 10);
        if (contentLength < 0)
          contentLength = 0;
      } else if (strcmp(line, "\r\n") == 0 || strcmp(line, "\n") == 0) {
        bodyStart = pos;
        if (room < contentLength)
          break;
        room = static_cast<int>(contentLength) + 1;
      }
    }
    if (bodyStart >= 0 && room <= 1) {
      p->buf[pos] = '\0';
      p->msgKind = ClassifyBody(p->buf + bodyStart, sock, p);
      break;
    }
  }
  fs_ahead.count = fs_ahead.pos = 0;
  return pos;
}

int Writen(PlSocket sock, const char *data, int length, MngInfo *p) {
  int sent = 0;
  while (sent < length) {
    long n = mwa_writesocket(sock, data + sent, static_cast<size_t>(length - sent));
    if (n <= 0) {
      int err = mwa_getlasterror();
      if (err == PL_SOCK_EINTR)
        continue;
      PutErrorDetail(SV_LINE_SYSCALL, "Writen", 31, "mwa_writesocket", err, p->openCount, "?", sock);
      PutSystemError(err);
      return -1;
    }
    sent += static_cast<int>(n);
  }
  return length;
}

bool FormatHttpDate(long long unixSeconds, char *buf, int size) {
  static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm *tm = gmtime(&t);
  if (!tm || tm->tm_wday < 0 || tm->tm_wday > 6 || tm->tm_mon < 0 || tm->tm_mon > 11)
    return false;
  int n = snprintf(buf, static_cast<size_t>(size), "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm->tm_wday],
                   tm->tm_mday, months[tm->tm_mon], tm->tm_year + 1900, tm->tm_hour, tm->tm_min, tm->tm_sec);
  return n > 0 && n < size;
}

void SetHttpClock(long long (*now)()) { fs_now = now; }

int SendClient(PlSocket sock, MngInfo *p, int kind) {
  static const struct {
    int kind;
    const char *body;
    int traffic;
  } replies[] = {{SV_TALV_OPENED, "TALVAgent-OPENED", 21802},   {SV_TALV_CLOSED, "TALVAgent-CLOSED", 21804},
                 {SV_TALV_FAILED, "TALVAgent-FAILED", 21805},   {SV_TALV_STOPPED, "TALVAgent-STOPPED", 21837},
                 {SV_COMMON_OPENED, "CommonAgent-OPENED", 21844}, {SV_COMMON_CLOSED, "CommonAgent-CLOSED", 21845},
                 {SV_COMMON_FAILED, "CommonAgent-FAILED", 21846}};
  const char *body = nullptr;
  int traffic = 0;
  for (const auto &r : replies)
    if (r.kind == kind) {
      body = r.body;
      traffic = r.traffic;
    }
  if (!body)
    return -1;
  char date[64] = "";
  if (!FormatHttpDate(fs_now ? fs_now() : static_cast<long long>(time(nullptr)), date, sizeof date))
    date[0] = '\0';
  int blen = static_cast<int>(strlen(body));
  int n = mwa_snprintf(p->buf, 8192,
                       "HTTP/1.0 200 OK\r\nExpires: %s\r\nDate: %s\r\nAllow: GET,HEAD,POST,TRACE,OPTIONS\r\n"
                       "Content-Type: text/plain\r\nLast-Modified: %s\r\nServer: VoxhelmAgentDaemon/%s (%s)\r\n"
                       "CommonAgent-Port: %d\r\nContent-Length: %d\r\nConnection: close\r\nPragma: no-cache\r\n\r\n%s",
                       date, date, date, mwa_getversionmarketing(), mwa_getversiontechnical(), p->httpPort, blen, body);
  if (n < 0)
    return -1;
  int rc = Writen(sock, p->buf, n, p);
  if (rc < 0) {
    PutErrorDetail(SV_LINE_ROUTINE, "SendClient", 199, "Writen", rc, p->openCount, body, sock);
    PutMessage(21013);
    return rc;
  }
  PutTrafficMessage(traffic, sock);
  return rc;
}

PlSocket SockConnectIPv6(MngInfo *p) {
  int err = 0;
  PlSocket s = Socket(PL_AF_INET6, p, &err);
  if (s == PL_INVALID_SOCKET) {
    if (err != PL_SOCK_EAFNOSUPPORT) {
      PutErrorDetail(SV_LINE_ROUTINE, "SockConnectIPv6", 86, "Socket(AF_INET6)", err, p->openCount, "?", PL_INVALID_SOCKET);
      PutMessage(21004);
    }
    return PL_INVALID_SOCKET;
  }
  MwaSockAddr addr;
  int rc = mwa_getloopback6(&addr, p->localPort);
  if (rc != 0) {
    PutErrorDetail(SV_LINE_ROUTINE, "SockConnectIPv6", 78, "getaddrinfo", rc, p->openCount, "?", PL_INVALID_SOCKET);
    PutMessage(21004);
    mwa_closesocket(s);
    return PL_INVALID_SOCKET;
  }
  if (mwa_connect(s, &addr) != 0) {
    mwa_closesocket(s);
    return PL_INVALID_SOCKET;
  }
  return s;
}

PlSocket SockConnectIPv4(MngInfo *p) {
  int err = 0;
  PlSocket s = Socket(PL_AF_INET, p, &err);
  if (s == PL_INVALID_SOCKET) {
    PutErrorDetail(SV_LINE_ROUTINE, "SockConnectIPv4", 25, "Socket(AF_INET)", err, p->openCount, "?", PL_INVALID_SOCKET);
    PutMessage(21004);
    return PL_INVALID_SOCKET;
  }
  MwaSockAddr addr;
  mwa_setloopback4(&addr, p->localPort);
  if (mwa_connect(s, &addr) != 0) {
    int e = mwa_getlasterror();
    PutErrorDetail(SV_LINE_SYSCALL, "SockConnectIPv4", 40, "connect(AF_INET)", e, p->openCount, "?", PL_INVALID_SOCKET);
    PutSystemError(e);
    PutMessage(21005);
    mwa_closesocket(s);
    return PL_INVALID_SOCKET;
  }
  return s;
}

int OpenAgentSocket(MngInfo *p, int kind) {
  PlSocket s = SockConnectIPv6(p);
  if (s == PL_INVALID_SOCKET)
    s = SockConnectIPv4(p);
  if (s == PL_INVALID_SOCKET)
    return -1;
  if (RegisterConnection(s, p) != 0)
    return -1;
  *fs_slot(p, kind) = s;
  return 0;
}

int SendAgent(MngInfo *p, int kind) {
  const char *line = fs_requestBody(kind);
  if (!line)
    return -1;
  PlSocket *slot = fs_slot(p, kind);
  if (*slot != PL_INVALID_SOCKET)
    CloseAcs(*slot, p);
  int rc = OpenAgentSocket(p, kind);
  if (rc != 0) {
    PutErrorDetail(SV_LINE_ROUTINE, "SendAgent", 126, "OpenAgentSocket", rc, p->openCount, line, PL_INVALID_SOCKET);
    return rc;
  }
  char body[32];
  int blen = snprintf(body, sizeof body, "%s\r\n", line);
  int n = mwa_snprintf(p->buf, 8192,
                       "POST /service/Control HTTP/1.0\r\nAccept: */*\r\nConnection: Keep-Alive\r\nHost: localhost:%u\r\n"
                       "User-Agent: TALVAgentDaemon\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s",
                       static_cast<unsigned>(p->localPort), blen, body);
  PlSocket s = *slot;
  rc = n < 0 ? -1 : Writen(s, p->buf, n, p);
  if (rc < 0) {
    PutErrorDetail(SV_LINE_ROUTINE, "SendAgent", 103, "Writen", rc, p->openCount, line, s);
    PutMessage(21004);
    CloseAcs(s, p);
    return rc;
  }
  static const int traffic[] = {21808, 21809, 21810, 21838, 21840};
  static const uint32_t states[] = {3, 4, 5, 5, 5};
  PutTrafficMessage(traffic[kind - SV_ACS_NOTICE], s);
  p->state = states[kind - SV_ACS_NOTICE];
  return rc;
}
