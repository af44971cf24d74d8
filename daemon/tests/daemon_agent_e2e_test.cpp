// The real tovx_service with the scripted agent behind its start script.
#include <gtest/gtest.h>
#include <string>

#include "mwa_socket.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "testkit.h"

namespace {

struct WithAgent : ::testing::Test {
  TkInstall in;
  const TkScratch &s = in.s;
  const std::vector<std::string> &env = in.env;
  int agentPort = 0, httpPort = 0;

  std::string at(const std::string &rel) const { return in.at(rel); }
  void SetUp() override {
    pl_net_startup();
    ASSERT_TRUE(in.install_scripted_agent(&agentPort, &httpPort));
  }
  std::string request(const std::string &body) { return tk_request(agentPort, body); }
  std::string agentLog() { return tk_read_text(at("agent/scripted_agent.log")); }
  bool waitAgentLog(const std::string &line, int ms) {
    for (int i = 0; i < ms / 50; ++i) {
      if (agentLog().find(line) != std::string::npos)
        return true;
      pl_sleep_ms(50);
    }
    return false;
  }
};

TEST_F(WithAgent, OpenLaunchesTheAgentAndCloseStopsIt) {
  TkRun run;
  ASSERT_TRUE(tk_start(&run, s, {tk_bin("tovx_service"), "--dev-console"}, "", env));
  // The daemon launches the agent at start; in normal mode, with nobody
  // holding it, the start ends with a notice and a safe stop.
  ASSERT_TRUE(waitAgentLog("stopping", 20000)) << agentLog();
  // Once the agent's process has ended the daemon is back in state 0.
  bool idle = false;
  for (int i = 0; i < 400 && !idle; ++i) {
    idle = tk_read_text(at("bin/logs/tovxservice.log")).find("changed from 6 to 0.") != std::string::npos;
    if (!idle)
      pl_sleep_ms(50);
  }
  ASSERT_TRUE(idle) << tk_read_text(at("bin/logs/tovxservice.log"));
  std::string reply = request("CommonAgent-OPEN\r\n");
  EXPECT_NE(reply.find("HTTP/1.0 200 OK\r\n"), std::string::npos) << reply;
  EXPECT_NE(reply.find("CommonAgent-Port: " + std::to_string(httpPort) + "\r\n"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\r\n\r\nCommonAgent-OPENED"), std::string::npos) << reply;
  reply = request("CommonAgent-CLOSE\r\n");
  EXPECT_NE(reply.find("\r\n\r\nCommonAgent-CLOSED"), std::string::npos) << reply;
  reply = request("TALVAgent-STOP\r\n");
  TkResult r = tk_finish(&run, 60000);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(reply.find("TALVAgent-STOPPED"), std::string::npos) << reply;
  std::string l = agentLog();
  EXPECT_EQ(l, "started\nACS-NOTICE\nACS-SAFESTOP\nstopping\nstarted\nACS-SAFESTOP\nstopping\n") << l;
}

TEST_F(WithAgent, AStalledRequesterDoesNotHoldTheOthers) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"),
                       tk_read(at("agent/config/server.properties")) + "server.agent.always=true\n"));
  TkRun run;
  ASSERT_TRUE(tk_start(&run, s, {tk_bin("tovx_service"), "--dev-console"}, "", env));
  ASSERT_TRUE(waitAgentLog("ACS-NOTICE", 20000)) << agentLog();
  // Half a header, and then nothing.
  PlSocket stalled = mwa_socket(PL_AF_INET);
  MwaSockAddr a;
  mwa_setloopback4(&a, agentPort);
  ASSERT_EQ(mwa_connect(stalled, &a), 0);
  const std::string half = "POST /service/Control HTTP/1.0\r\nContent-Le";
  mwa_writesocket(stalled, half.data(), half.size());
  pl_sleep_ms(200);
  uint64_t start = pl_monotonic_ms();
  std::string reply = request("TALVAgent-STOP\r\n");
  uint64_t took = pl_monotonic_ms() - start;
  TkResult r = tk_finish(&run, 60000);
  mwa_closesocket(stalled);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(reply.find("TALVAgent-STOPPED"), std::string::npos) << reply;
  EXPECT_LT(took, 30000u) << "the stalled read was cut off by its time limit";
  std::string log = tk_read_text(at("bin/logs/tovxservice.log"));
  EXPECT_NE(log.find("XVRT62634-E WatchSocket.00353 ReadHttp RC=-1"), std::string::npos) << log;
  EXPECT_EQ(agentLog(), "started\nACS-NOTICE\nACS-STOP\nstopping\n");
}

// Slow: the start limit is 60 seconds without activity.
TEST_F(WithAgent, AnAgentThatNeverAnnouncesItselfEndsTheDaemon) {
  ASSERT_TRUE(tk_write(at("agent/config/scripted_agent.txt"), "announce none\n"));
  TkResult r = tk_run(s, {tk_bin("tovx_service"), "--dev-console"}, "", env, 120000);
  EXPECT_EQ(r.code, 0);
  std::string log = tk_read_text(at("bin/logs/tovxservice.log"));
  EXPECT_NE(log.find("XVRT62301-W A timeout occurred while waiting for the agent to start."), std::string::npos) << log;
  EXPECT_NE(log.find("XVRT62008-I The daemon status was changed from 2 to 99."), std::string::npos) << log;
  EXPECT_NE(log.find("XVRT62011-I Exit daemon main loop."), std::string::npos);
  EXPECT_EQ(agentLog(), "started\n") << "the agent was ended, not asked";
}
}
