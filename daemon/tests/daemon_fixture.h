// A scratch installation tree for the daemon's tests.
#pragma once
#include <gtest/gtest.h>
#include <string>

#include <cstdlib>
#include <cstring>

#include "daemon.h"
#include "platform/net.h"
#include "mwa_system.h"
#include "platform/file.h"
#include "sv_error.h"
#include "testkit.h"

// A context record as InitTcpserv leaves it, for tests that drive the
// daemon's routines directly.
inline void InitTestContext(MngInfo *m) {
  memset(m, 0, sizeof *m);
  m->bufSize = 4096;
  m->buf = static_cast<char *>(calloc(2, 4096));
  m->clientSocks = static_cast<PlSocket *>(malloc(sizeof(PlSocket) * SV_MAX_SOCKETS));
  for (int i = 0; i < SV_MAX_SOCKETS; ++i)
    m->clientSocks[i] = PL_INVALID_SOCKET;
  m->noticeSock = m->resetSock = m->safeStopSock = m->stopSock = m->listenSock = PL_INVALID_SOCKET;
  for (PlSocket &s : m->listenSocks)
    s = PL_INVALID_SOCKET;
  m->talvOpen = 1;
  m->httpPort = 24042;
}

// A listener on a free loopback port; *port says which.
inline PlSocket ListenLoopback(int *port) {
  PlSocket l = pl_socket_tcp(PL_AF_INET);
  PlSockAddr a;
  pl_sockaddr_loopback4(&a, 0);
  pl_bind(l, &a);
  pl_listen(l, 70);
  *port = pl_sock_port(l);
  return l;
}

inline void FreeTestContext(MngInfo *m) {
  free(m->buf);
  free(m->clientSocks);
}

struct InstallTree : ::testing::Test {
  TkScratch s;
  std::string sep = std::string(1, pl_path_sep);

  std::string at(const std::string &rel) const {
    std::string out = s.dir + sep;
    for (char c : rel)
      out += c == '/' ? pl_path_sep : c;
    return out;
  }
  void mkdirs(std::initializer_list<const char *> dirs) {
    for (const char *d : dirs)
      ASSERT_EQ(pl_dir_create(at(d).c_str()), 0) << d;
  }
  static bool fixedStamp(char *buf, int size) {
    snprintf(buf, static_cast<size_t>(size), "2009/04/20 01:20:29");
    return true;
  }
  // The tree with bin/logs and a log ready to write, on a fixed clock.
  void SetUp() override {
    mkdirs({"bin", "bin/logs", "agent", "agent/config", "etc", "etc/currentprops"});
    MwaErrorInfo e;
    ASSERT_EQ(mwa_setinstalldir(s.dir.c_str(), &e), 1);
    SetLogClock(fixedStamp);
    ASSERT_EQ(InitErrorLog(), 0);
  }
  void TearDown() override {
    TermErrorLog();
    SetLogClock(nullptr);
  }
  std::string log() const { return tk_read_text(at("bin/logs/tovxservice.log")); }
};
