#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "daemon_fixture.h"
#include "mwa_socket.h"
#include "sv_http.h"
#include "sv_watch.h"

namespace {

// A context record as InitTcpserv leaves it, and socket pairs on loopback.
struct Framing : InstallTree {
  MngInfo m;
  PlSocket listener = PL_INVALID_SOCKET;
  int port = 0;
  std::vector<PlSocket> open;

  void SetUp() override {
    InstallTree::SetUp();
    ASSERT_EQ(pl_net_startup(), 0);
    InitTestContext(&m);
    listener = ListenLoopback(&port);
    ASSERT_GT(port, 0);
  }
  void TearDown() override {
    for (PlSocket s : open)
      mwa_closesocket(s);
    mwa_closesocket(listener);
    FreeTestContext(&m);
    InstallTree::TearDown();
  }
  // A connected pair: the peer's end and the daemon's end.
  std::pair<PlSocket, PlSocket> pair() {
    PlSocket c = mwa_socket(PL_AF_INET);
    MwaSockAddr a;
    mwa_setloopback4(&a, port);
    EXPECT_EQ(mwa_connect(c, &a), 0);
    MwaSockAddr peer;
    PlSocket s = mwa_accept(listener, &peer);
    open.push_back(c);
    open.push_back(s);
    return {c, s};
  }
  static void send(PlSocket s, const std::string &bytes) {
    ASSERT_EQ(mwa_writesocket(s, bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
  }
  static std::string post(const std::string &body, int contentLength = -1) {
    return "POST /service/Control HTTP/1.0\r\nHost: localhost\r\nContent-Length: " +
           std::to_string(contentLength < 0 ? static_cast<int>(body.size()) : contentLength) + "\r\n\r\n" + body;
  }
};

TEST_F(Framing, BodiesAreClassifiedByTheirStart) {
  struct {
    std::string message;
    uint32_t kind;
    const char *logged; // traffic message id, or null
    const char *slot;   // which ACS slot the connection fills
  } cases[] = {
      {post("CommonAgent-OPEN\r\n"), 6, "XVRT62022-I", nullptr},
      {post("TALVAgent-OPENED\r\n"), 1, "XVRT62017-I", nullptr},
      {post("talvagent-stop\r\n"), 3, "XVRT62030-I", nullptr},
      {post("TALVAGENT-SAFESTOP"), 4, "XVRT62031-I", nullptr},
      {post("talvagent-open\r\n"), 0, nullptr, nullptr},
      {post("TALVAgent-RESET\r\n"), 32, "XVRT62002-I", nullptr},
      {post("TALVAgent-LOCALSTARTING\r\n"), 33, "XVRT62028-I", nullptr},
      {"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-OK\r\n", 47, "XVRT62039-I", "notice"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nACS-OK", 45, "XVRT62039-I", "reset"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-NG\r\n", 42, "XVRT62003-I", "stop"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-OK\r\n", 0, "XVRT62039-I", nullptr},
      {"POST / HTTP/1.0\r\n\r\nTALVAgent-OPEN\r\n", 0, nullptr, nullptr},
      {"POST / HTTP/1.0\nContent-Length: 16\n\nTALVAgent-CLOSE\n", 2, "XVRT62018-I", nullptr},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(tk_write(at("bin/logs/tovxservice.log"), ""));
    auto [peer, mine] = pair();
    m.noticeSock = m.resetSock = m.stopSock = PL_INVALID_SOCKET;
    if (c.slot)
      *(std::string(c.slot) == "notice" ? &m.noticeSock : std::string(c.slot) == "reset" ? &m.resetSock : &m.stopSock) = mine;
    send(peer, c.message);
    int r = ReadHttp(mine, &m);
    // Without Content-Length the body is empty: only the header is taken.
    size_t body = c.message.find("\r\n\r\n");
    int expect = c.message.find("Content-Length") == std::string::npos ? static_cast<int>(body + 4)
                                                                         : static_cast<int>(c.message.size());
    EXPECT_EQ(r, expect) << c.message;
    EXPECT_EQ(m.msgKind, c.kind) << c.message;
    std::string l = log();
    if (c.logged) {
      EXPECT_NE(l.find(c.logged), std::string::npos) << c.message << l;
      EXPECT_NE(l.find("'127.0.0.1'"), std::string::npos) << l;
    } else {
      EXPECT_EQ(l, "") << c.message;
    }
  }
}

TEST_F(Framing, ShortBodyOversizedHeadersAndLeftovers) {
  // The body promised is longer than what comes: the peer's close ends it.
  auto [p1, s1] = pair();
  send(p1, post("ACS-OK", 40));
  mwa_closesocket(p1);
  open.erase(std::find(open.begin(), open.end(), p1));
  EXPECT_EQ(ReadHttp(s1, &m), 0);
  EXPECT_EQ(m.msgKind, 0u);
  EXPECT_NE(log().find("XVRT62634-E ReadHttp.00038 Readline RC=0"), std::string::npos) << log();

  // Headers beyond 4096 bytes: consumed, never classified.
  auto [p2, s2] = pair();
  std::string big = "POST / HTTP/1.0\r\nX-Pad: " + std::string(5000, 'x') + "\r\nContent-Length: 16\r\n\r\nTALVAgent-OPEN\r\n";
  send(p2, big);
  EXPECT_GT(ReadHttp(s2, &m), 0);
  EXPECT_EQ(m.msgKind, 0u);

  // Bytes after the message do not reach the next connection.
  auto [p3, s3] = pair();
  auto [p4, s4] = pair();
  send(p3, "HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-OK\r\nTALVAgent-STOP\r\n");
  m.noticeSock = s3;
  EXPECT_GT(ReadHttp(s3, &m), 0);
  EXPECT_EQ(m.msgKind, 47u);
  send(p4, post("CommonAgent-CLOSE\r\n"));
  EXPECT_GT(ReadHttp(s4, &m), 0);
  EXPECT_EQ(m.msgKind, 7u);
}

TEST_F(Framing, ReadlineRoomRules) {
  auto [peer, mine] = pair();
  send(peer, "abcdef\nxy");
  mwa_closesocket(peer);
  open.erase(std::find(open.begin(), open.end(), peer));
  char buf[8];
  EXPECT_EQ(Readline(mine, buf, 1, &m), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(Readline(mine, buf, 4, &m), 4) << "stopped for lack of room: one more than stored";
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(Readline(mine, buf, 8, &m), 4);
  EXPECT_STREQ(buf, "def\n");
  EXPECT_EQ(Readline(mine, buf, 8, &m), 2) << "the stream ends after two bytes";
  EXPECT_STREQ(buf, "xy");
  EXPECT_EQ(Readline(mine, buf, 8, &m), 0);
}

long long fs_fixedTime() { return 1240190429LL; } // Mon, 20 Apr 2009 01:20:29 GMT

TEST_F(Framing, ReplyToARequester) {
  ASSERT_TRUE(tk_write(at("etc/amc_version.properties"), "version.marketing=7.0\nversion.technical=07-00-01\n"));
  MwaErrorInfo e;
  ASSERT_EQ(mwa_readversion(&e), 1);
  SetHttpClock(fs_fixedTime);
  auto [peer, mine] = pair();
  ASSERT_GT(SendClient(mine, &m, SV_COMMON_OPENED), 0);
  SetHttpClock(nullptr);
  char buf[2048];
  long n = mwa_readsocket(peer, buf, sizeof buf);
  ASSERT_GT(n, 0);
  const std::string d = "Mon, 20 Apr 2009 01:20:29 GMT";
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
            "HTTP/1.0 200 OK\r\nExpires: " + d + "\r\nDate: " + d + "\r\nAllow: GET,HEAD,POST,TRACE,OPTIONS\r\n"
            "Content-Type: text/plain\r\nLast-Modified: " + d + "\r\nServer: VoxhelmAgentDaemon/7.0 (07-00-01)\r\n"
            "CommonAgent-Port: 24042\r\nContent-Length: 18\r\nConnection: close\r\nPragma: no-cache\r\n\r\n"
            "CommonAgent-OPENED");
  EXPECT_NE(log().find("XVRT62024-I A 'CommonAgent-OPENED' was received from the '127.0.0.1'."), std::string::npos);
}

TEST_F(Framing, RequestToTheAgentAndItsAnswer) {
  m.localPort = static_cast<uint16_t>(port); // the test's listener stands for the agent
  int sent = SendAgent(&m, SV_ACS_NOTICE);
  ASSERT_GT(sent, 0) << log();
  EXPECT_EQ(m.state, 3u);
  ASSERT_NE(m.noticeSock, PL_INVALID_SOCKET);
  EXPECT_EQ(m.clientSocks[0], m.noticeSock);
  EXPECT_TRUE(SockSet_contains(&m.readSet, m.noticeSock));
  MwaSockAddr peer;
  PlSocket agent = mwa_accept(listener, &peer);
  open.push_back(agent);
  char buf[1024];
  long n = mwa_readsocket(agent, buf, sizeof buf);
  ASSERT_EQ(n, sent);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
            "POST /service/Control HTTP/1.0\r\nAccept: */*\r\nConnection: Keep-Alive\r\nHost: localhost:" +
                std::to_string(port) + "\r\nUser-Agent: TALVAgentDaemon\r\nContent-Type: text/plain\r\n"
                "Content-Length: 12\r\n\r\nACS-NOTICE\r\n");
  send(agent, "HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-OK\r\n");
  EXPECT_GT(ReadHttp(m.noticeSock, &m), 0);
  EXPECT_EQ(m.msgKind, 47u);
  CloseAcs(m.noticeSock, &m);
  EXPECT_EQ(m.noticeSock, PL_INVALID_SOCKET);
  EXPECT_EQ(m.clientSocks[0], PL_INVALID_SOCKET);
  EXPECT_FALSE(SockSet_contains(&m.readSet, agent));
}

TEST_F(Framing, NoAgentListening) {
  PlSocket spare = mwa_socket(PL_AF_INET);
  MwaSockAddr a;
  mwa_setloopback4(&a, 0);
  ASSERT_EQ(mwa_bind(spare, &a), 0);
  m.localPort = static_cast<uint16_t>(pl_sock_port(spare)); // bound, not listening
  EXPECT_LT(SendAgent(&m, SV_ACS_RESET), 0);
  mwa_closesocket(spare);
  std::string l = log();
  EXPECT_NE(l.find("XVRT62632-E SockConnectIPv4.00040 connect(AF_INET) EC="), std::string::npos) << l;
  EXPECT_NE(l.find("XVRT62621-E Socket connect error."), std::string::npos);
  EXPECT_NE(l.find("XVRT62634-E SendAgent.00126 OpenAgentSocket RC=-1 OpenCount=0 Data=ACS-RESET IP=?"), std::string::npos);
  EXPECT_EQ(m.resetSock, PL_INVALID_SOCKET);
}

TEST(SockSetRules, InsertionOrderNoDuplicatesGapsClosed) {
  SockSet s = {};
  for (PlSocket x : {5, 7, 5, 9})
    SockSet_add(&s, x);
  ASSERT_EQ(s.count, 3);
  SockSet_remove(&s, 7);
  EXPECT_EQ(s.count, 2);
  EXPECT_EQ(s.socks[0], 5);
  EXPECT_EQ(s.socks[1], 9);
  SockSet_remove(&s, 42);
  EXPECT_EQ(s.count, 2);
  for (PlSocket x = 100; x < 200; ++x)
    SockSet_add(&s, x);
  EXPECT_EQ(s.count, SV_MAX_SOCKETS) << "a full set takes no more";
}

TEST_F(Framing, SixtyFifthConnectionIsClosed) {
  std::vector<PlSocket> socks;
  // With a listener in the wait set, only 63 connections can be watched.
  SockSet_add(&m.readSet, listener);
  for (int i = 0; i < SV_MAX_SOCKETS - 1; ++i) {
    PlSocket s = mwa_socket(PL_AF_INET);
    ASSERT_EQ(RegisterConnection(s, &m), 0);
    socks.push_back(s);
  }
  EXPECT_EQ(m.readSet.count, SV_MAX_SOCKETS);
  PlSocket unwatched = mwa_socket(PL_AF_INET);
  EXPECT_EQ(RegisterConnection(unwatched, &m), -1) << "the wait set is full";
  PlSocket last = mwa_socket(PL_AF_INET);
  m.readSet.count--; // room in the wait set again: the table is what limits now
  m.readSet.socks[m.readSet.count] = PL_INVALID_SOCKET;
  ASSERT_EQ(RegisterConnection(last, &m), 0);
  socks.push_back(last);
  EXPECT_EQ(m.clientTop, SV_MAX_SOCKETS - 1);
  PlSocket extra = mwa_socket(PL_AF_INET);
  EXPECT_EQ(RegisterConnection(extra, &m), -1);
  for (PlSocket s : socks)
    CloseClient(s, &m);
  EXPECT_EQ(m.readSet.count, 1);
  EXPECT_EQ(m.clientTop, SV_MAX_SOCKETS - 1) << "not lowered";
}

TEST_F(Framing, ListenersOnTheLoopbackOnly) {
  PlSocket probe = mwa_socket(PL_AF_INET);
  MwaSockAddr a;
  mwa_setloopback4(&a, 0);
  ASSERT_EQ(mwa_bind(probe, &a), 0);
  int freePort = pl_sock_port(probe);
  mwa_closesocket(probe);
  m.listenSock = PL_INVALID_SOCKET;
  for (PlSocket &s : m.listenSocks)
    s = PL_INVALID_SOCKET;
  m.agentPort = static_cast<uint16_t>(freePort);
  ASSERT_NE(InitListenSocket(&m), PL_INVALID_SOCKET) << log();
  EXPECT_GE(m.listenCount, 1u);
  EXPECT_LE(m.listenCount, 2u) << "::1 and 127.0.0.1 at most";
  EXPECT_NE(log().find("XVRT62013-I The listen socket initialized."), std::string::npos);
  PlSocket c = mwa_socket(PL_AF_INET);
  mwa_setloopback4(&a, freePort);
  EXPECT_EQ(mwa_connect(c, &a), 0);
  MwaSockAddr peer;
  PlSocket s = Accept(m.listenSocks[m.listenCount - 1], &peer, &m);
  EXPECT_NE(s, PL_INVALID_SOCKET);
  mwa_closesocket(s);
  mwa_closesocket(c);

  // A second daemon on the same port cannot bind: logged, all closed.
  MngInfo other = m;
  other.listenSock = PL_INVALID_SOCKET;
  for (PlSocket &x : other.listenSocks)
    x = PL_INVALID_SOCKET;
  other.listenCount = 0;
  other.readSet.count = 0;
  ASSERT_TRUE(tk_write(at("bin/logs/tovxservice.log"), ""));
  EXPECT_EQ(InitListenSocket(&other), PL_INVALID_SOCKET);
  std::string l = log();
  EXPECT_NE(l.find("XVRT62632-E Bind.00028 bind EC="), std::string::npos) << l;
  EXPECT_NE(l.find("XVRT62626-E Listen socket error."), std::string::npos);
  EXPECT_NE(l.find("XVRT62009-I The listen socket was closed."), std::string::npos);
  EXPECT_EQ(other.listenCount, 0u);
  CloseListenSockets(&m, 21818);
  EXPECT_EQ(m.listenSock, PL_INVALID_SOCKET);
  EXPECT_EQ(m.readSet.count, 0);
}
}
