// The real tovx_service in a scratch installation found through the
// registry (the stand-in on POSIX, wine's registry under wine).
#include <gtest/gtest.h>
#include <string>

#include "mwa_socket.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "testkit.h"

namespace {

struct DaemonRun : ::testing::Test {
  TkInstall in;
  const TkScratch &s = in.s;
  const std::vector<std::string> &env = in.env;

  std::string at(const std::string &rel) const { return in.at(rel); }
  int agentPort = 0;

  // Ports of this test's own: tests run side by side.
  std::string ports() {
    agentPort = tk_free_port();
    return "server.agent.port=" + std::to_string(agentPort) + "\nserver.http.port=" + std::to_string(tk_free_port()) +
           "\nserver.http.localPort=" + std::to_string(tk_free_port()) + "\n";
  }
  std::string request(const std::string &body) { return tk_request(agentPort, body); }
  void SetUp() override {
    pl_setenv("TALV_AGENT_ENABLE_DEBUG", nullptr);
    ASSERT_TRUE(in.mkdirs({"etc/currentprops"}));
    ASSERT_TRUE(tk_write(at("etc/amc_version.properties"), "version.marketing=7.0\n"));
    ASSERT_TRUE(tk_write(at("agent/config/server.properties"), ports()));
  }
  void removeKey() { in.remove_key(); }
  TkResult run(std::vector<std::string> args, std::vector<std::string> extraEnv = {}) {
    args.insert(args.begin(), tk_bin("tovx_service"));
    std::vector<std::string> e = env;
    e.insert(e.end(), extraEnv.begin(), extraEnv.end());
    return tk_run(s, args, "", e);
  }
  // The log's records without their time stamps.
  std::vector<std::string> records() const {
    std::vector<std::string> out;
    std::string text = tk_read_text(at("bin/logs/tovxservice.log"));
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos);
      out.push_back(line.size() > 22 ? line.substr(22) : line);
      pos = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
  }
};

// Runs the console daemon until a TALVAgent-STOP ends it; the reply.
struct Stopped {
  TkResult result;
  std::string reply;
};

TEST_F(DaemonRun, ConsoleModeRunsUntilAStop) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties.bak"), "old\n"));
  TkRun run;
  ASSERT_TRUE(tk_start(&run, s, {tk_bin("tovx_service"), "--dev-console"}, "", env));
  // No agent is installed: the launch fails and the daemon waits in state 0.
  std::string reply = request("TALVAgent-STOP\r\n");
  TkResult r = tk_finish(&run, 30000);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(reply.find("\r\n\r\nTALVAgent-STOPPED"), std::string::npos) << reply;
  std::vector<std::string> rec = records();
  ASSERT_GE(rec.size(), 8u);
  EXPECT_EQ(rec[0], "XVRT62004-I The tovx_service has started in the normal mode.");
  EXPECT_EQ(rec[1].rfind("XVRT62632-E ExecAgent.00058 CreateProcess EC=", 0), 0u) << rec[1];
  EXPECT_EQ(rec[3], "XVRT62623-E An attempt to create or execute a process has failed.");
  EXPECT_EQ(rec[4], "XVRT62010-I Enter daemon main loop.");
  EXPECT_EQ(rec[5], "XVRT62013-I The listen socket initialized.");
  EXPECT_EQ(rec[6], "XVRT62030-I A 'TALVAgent-STOP' was received from the '127.0.0.1'.");
  EXPECT_EQ(rec[7], "XVRT62033-I A 'TALVAgent-STOPPED' was sent to the '127.0.0.1'.");
  EXPECT_EQ(rec[8], "XVRT62011-I Exit daemon main loop.");
  EXPECT_EQ(rec.back(), "XVRT62009-I The listen socket was closed.");
  EXPECT_EQ(tk_read(at("etc/currentprops/acs_server.properties.bak")), "old\n");
  EXPECT_TRUE(tk_exists(at("etc/currentprops/acs_server.properties")));
}

TEST_F(DaemonRun, AlwaysOnModeIsAnnounced) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"), ports() + "server.agent.always=True\n"));
  TkRun run;
  ASSERT_TRUE(tk_start(&run, s, {tk_bin("tovx_service"), "--dev-console"}, "", env));
  request("TALVAgent-STOP\r\n");
  EXPECT_EQ(tk_finish(&run, 30000).code, 0);
  ASSERT_FALSE(records().empty());
  EXPECT_EQ(records()[0], "XVRT62041-I The tovx_service started in the always-on mode.");
}

TEST_F(DaemonRun, OtherArgumentsTryTheServiceManager) {
  // Outside a service manager the dispatcher fails (under wine only after
  // some seconds, so the cases are few).
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"--dev-console "},
                                        {"--dev-console", "x"}}) {
    pl_file_delete(at("bin/logs/tovxservice.log").c_str());
    TkResult r = run(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(records(), (std::vector<std::string>{"XVRT62007-I The tovx_service process was stopped."}));
  }
}

TEST_F(DaemonRun, NoInstallationMeansStatusTwoAndNoLog) {
  pl_file_delete(at("etc/amc_version.properties").c_str());
  EXPECT_EQ(run({"--dev-console"}).code, 2);
  EXPECT_FALSE(tk_exists(at("bin/logs/tovxservice.log")));
  ASSERT_TRUE(tk_write(at("etc/amc_version.properties"), ""));
  removeKey();
  EXPECT_EQ(run({"--dev-console"}).code, 2);
  EXPECT_FALSE(tk_exists(at("bin/logs/tovxservice.log")));
  // With the debug switch the failure is a failed check.
  TkResult r = run({"--dev-console"}, {"TALV_AGENT_ENABLE_DEBUG="});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.err.find("isSuccess"), std::string::npos) << r.err;
}

TEST_F(DaemonRun, BadMemorySizeStopsTheStart) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"), "server.agent.maxMemorySize=512MB\n"));
  TkResult r = run({"--dev-console"});
  const std::string text =
      "XVRT62638-E The value specified for server.agent.maxMemorySize in the server.properties file is not numeric.";
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, text + "\n");
  EXPECT_EQ(records(), (std::vector<std::string>{
                           text, "XVRT62634-E InitTcpserv.00168 GetAgentArgData RC=2 OpenCount=0 Data=? IP=?",
                           "XVRT62634-E fs_serviceInit.00191 InitTcpserv RC=2 OpenCount=0 Data=? IP=?"}));
}
}
