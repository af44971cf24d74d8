// The state machine, fed messages and time-outs directly: requesters and
// the agent are loopback sockets of the test.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "daemon_fixture.h"
#include "mwa_process.h"
#include "mwa_socket.h"
#include "sv_dispatch.h"
#include "sv_http.h"
#include "sv_watch.h"

namespace {

struct States : InstallTree {
  MngInfo m;
  PlSocket daemonSide = PL_INVALID_SOCKET; // the test's listener for requesters
  PlSocket agent = PL_INVALID_SOCKET;      // stands for the agent's control port
  std::vector<PlSocket> peers;

  void SetUp() override {
    InstallTree::SetUp();
    ASSERT_EQ(pl_net_startup(), 0);
    InitTestContext(&m);
    MwaErrorInfo e;
    m.agentProcess = MwaProcess_new(&e); // no child: the agent does not run
    int port;
    daemonSide = ListenLoopback(&port);
    requesterPort = port;
    agent = ListenLoopback(&port);
    m.localPort = static_cast<uint16_t>(port);
    exitRequested = remoteStartingSeen = localStartingSeen = 0;
  }
  void TearDown() override {
    for (PlSocket s : peers)
      mwa_closesocket(s);
    for (int i = 0; i < SV_MAX_SOCKETS; ++i)
      if (m.clientSocks[i] != PL_INVALID_SOCKET)
        mwa_closesocket(m.clientSocks[i]);
    mwa_closesocket(daemonSide);
    mwa_closesocket(agent);
    MwaProcess_free(m.agentProcess);
    FreeTestContext(&m);
    InstallTree::TearDown();
  }
  int requesterPort = 0;
  // A requester's connection as the daemon registered it; the peer end.
  PlSocket connect(PlSocket *peerOut) {
    PlSocket c = mwa_socket(PL_AF_INET);
    MwaSockAddr a;
    mwa_setloopback4(&a, requesterPort);
    EXPECT_EQ(mwa_connect(c, &a), 0);
    MwaSockAddr peer;
    PlSocket mine = mwa_accept(daemonSide, &peer);
    EXPECT_EQ(RegisterConnection(mine, &m), 0);
    peers.push_back(c);
    *peerOut = c;
    return mine;
  }
  void dispatch(PlSocket c, uint32_t kind) {
    m.msgKind = kind;
    DispatchMessage(c, &m);
  }
  // The body of the reply a requester got (empty when none yet).
  static std::string body(PlSocket peer) {
    bool ready = false;
    if (mwa_select(&peer, 1, &ready, 2000) != 1)
      return "";
    std::string all;
    char buf[2048];
    long n;
    while ((n = mwa_readsocket(peer, buf, sizeof buf)) > 0)
      all.append(buf, static_cast<size_t>(n));
    size_t at = all.find("\r\n\r\n");
    return at == std::string::npos ? all : all.substr(at + 4);
  }
  // The body line of the request the agent received.
  std::string agentGot() {
    MwaSockAddr peer;
    PlSocket s = mwa_accept(agent, &peer);
    peers.push_back(s);
    char buf[2048];
    long n = mwa_readsocket(s, buf, sizeof buf);
    std::string all(buf, n > 0 ? static_cast<size_t>(n) : 0);
    size_t at = all.find("\r\n\r\n");
    return at == std::string::npos ? all : all.substr(at + 4);
  }
};

TEST_F(States, OpenIsAnsweredAtOnceInStateThreeAndFailedInSixAndNinetyNine) {
  struct {
    uint32_t state, kind;
    const char *reply;
  } cases[] = {{3, 1, "TALVAgent-OPENED"}, {3, 6, "CommonAgent-OPENED"}, {6, 1, "TALVAgent-FAILED"},
               {99, 6, "CommonAgent-FAILED"}};
  for (const auto &c : cases) {
    m.state = c.state;
    m.openCount = 0;
    PlSocket peer;
    PlSocket mine = connect(&peer);
    dispatch(mine, c.kind);
    EXPECT_EQ(body(peer), c.reply) << c.state;
    EXPECT_EQ(m.openCount, 1) << c.state;
    EXPECT_FALSE(SockSet_contains(&m.readSet, mine)) << "closed after the reply";
  }
}

TEST_F(States, CloseInStateOneAsksTheAgentToStopSafelyUnlessAlwaysOn) {
  m.state = 1;
  PlSocket peer;
  dispatch(connect(&peer), 2);
  EXPECT_EQ(body(peer), "TALVAgent-CLOSED");
  EXPECT_EQ(agentGot(), "ACS-SAFESTOP\r\n");
  EXPECT_EQ(m.state, 5u);

  CloseAcs(m.safeStopSock, &m);
  m.state = 1;
  m.alwaysOn = 1;
  dispatch(connect(&peer), 7);
  EXPECT_EQ(body(peer), "CommonAgent-CLOSED");
  EXPECT_EQ(m.state, 1u) << "always-on: nothing is sent";
  EXPECT_EQ(m.safeStopSock, PL_INVALID_SOCKET);
}

TEST_F(States, BothAnnouncementsAnswerWaitingOpenersThenNotice) {
  m.state = 2;
  PlSocket opener;
  PlSocket waiting = connect(&opener);
  SockSet_add(&m.openWaiters, waiting);
  m.openCount = 1;
  PlSocket a1, a2;
  dispatch(connect(&a1), 31);
  EXPECT_EQ(m.state, 2u) << "one announcement is not enough";
  dispatch(connect(&a2), 33);
  EXPECT_EQ(body(opener), "TALVAgent-OPENED");
  EXPECT_EQ(agentGot(), "ACS-NOTICE\r\n");
  EXPECT_EQ(m.state, 3u);
  // The agent's ACS-OK to the notice: no more notices, back to idle.
  m.msgKind = 47;
  DispatchMessage(m.noticeSock, &m);
  EXPECT_EQ(m.noNotice, 1);
  EXPECT_EQ(m.state, 1u) << "an opener still holds it: no stop";
}

TEST_F(States, WithoutNoticeAndOpenersTheStartEndsInASafeStop) {
  m.state = 2;
  m.noNotice = 1;
  PlSocket a1, a2;
  dispatch(connect(&a1), 31);
  dispatch(connect(&a2), 33);
  EXPECT_EQ(agentGot(), "ACS-SAFESTOP\r\n");
  EXPECT_EQ(m.state, 5u);
}

TEST_F(States, StopRequests) {
  // State 0: stopped at once, and the daemon ends.
  PlSocket peer;
  dispatch(connect(&peer), 3);
  EXPECT_EQ(body(peer), "TALVAgent-STOPPED");
  EXPECT_EQ(m.quit, 1u);
  // SAFESTOP while a notice is outstanding: refused, the agent not asked.
  m.quit = 0;
  m.state = 3;
  dispatch(connect(&peer), 4);
  EXPECT_EQ(body(peer), "TALVAgent-FAILED");
  EXPECT_EQ(m.state, 3u);
}

TEST_F(States, StopDuringTheStartWaitsAndAllWaitersShareTheAnswer) {
  m.state = 2;
  m.noNotice = 1;
  PlSocket p1, p2, a1, a2;
  dispatch(connect(&p1), 3);
  EXPECT_EQ(m.pendingStop, 3u);
  dispatch(connect(&a1), 31);
  dispatch(connect(&a2), 33);
  EXPECT_EQ(agentGot(), "ACS-STOP\r\n");
  EXPECT_EQ(m.state, 5u);
  dispatch(connect(&p2), 5); // a second requester while the stop runs
  m.msgKind = 41;            // the agent accepts
  DispatchMessage(m.stopSock, &m);
  EXPECT_EQ(m.state, 6u);
  OnStateTimeout(&m); // its process has ended
  EXPECT_EQ(body(p1), "TALVAgent-STOPPED");
  EXPECT_EQ(body(p2), "TALVAgent-STOPPED");
  EXPECT_EQ(m.state, 0u);
  EXPECT_EQ(m.quit, 1u);
  EXPECT_NE(log().find("XVRT62008-I The daemon status was changed from 6 to 0."), std::string::npos);
}

TEST_F(States, StartTimeOutFailsOpenersAndEndsTheDaemon) {
  m.state = 2;
  PlSocket opener;
  SockSet_add(&m.openWaiters, connect(&opener));
  OnStateTimeout(&m);
  EXPECT_EQ(body(opener), "TALVAgent-FAILED");
  EXPECT_EQ(m.state, 0u);
  EXPECT_EQ(exitRequested, 1);
  std::string l = log();
  EXPECT_NE(l.find("XVRT62301-W A timeout occurred while waiting for the agent to start."), std::string::npos);
  EXPECT_NE(l.find("XVRT62008-I The daemon status was changed from 2 to 0."), std::string::npos);
}

TEST_F(States, ResetFailsOpenersAndForgetsTheOpens) {
  m.state = 1;
  m.openCount = 3;
  PlSocket opener, resetter;
  SockSet_add(&m.openWaiters, connect(&opener));
  dispatch(connect(&resetter), 32);
  EXPECT_EQ(body(opener), "TALVAgent-FAILED");
  EXPECT_EQ(m.openCount, 0);
  EXPECT_EQ(m.state, 0u);
}
}
