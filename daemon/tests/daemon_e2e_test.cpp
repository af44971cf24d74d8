// The real tovx_service in a scratch installation found through the
// registry (the stand-in on POSIX, wine's registry under wine).
#include <gtest/gtest.h>
#include <string>

#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "testkit.h"

namespace {

const char kProduct[] = "SOFTWARE\\ZENTRAK\\TovexAgent\\1\\PathName";

struct DaemonRun : ::testing::Test {
  TkScratch s;
  std::vector<std::string> env;

  std::string at(const std::string &rel) const {
    std::string out = s.dir + pl_path_sep;
    for (char c : rel)
      out += c == '/' ? pl_path_sep : c;
    return out;
  }
  void SetUp() override {
    env = {"TOVX_REGISTRY=" + s.path("registry")};
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    pl_setenv("TALV_AGENT_ENABLE_DEBUG", nullptr);
    for (const char *d : {"bin", "bin/logs", "agent", "agent/config", "etc", "etc/currentprops"})
      ASSERT_EQ(pl_dir_create(at(d).c_str()), 0);
    ASSERT_TRUE(tk_write(at("etc/amc_version.properties"), "version.marketing=7.0\n"));
    ASSERT_TRUE(tk_write(at("agent/config/server.properties"), "server.agent.port=24041\n"));
    PlHkey k;
    ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKLM), kProduct, PL_REG_ALL, &k), 0);
    ASSERT_EQ(pl_reg_set_value(k, "Path00", PL_REG_SZ, s.dir.c_str(), static_cast<uint32_t>(s.dir.size() + 1)), 0);
    pl_reg_close(k);
  }
  void TearDown() override { removeKey(); }
  static void removeKey() {
    PlHkey root = pl_reg_root(PL_HKLM);
    pl_reg_delete_key(root, kProduct, 0);
    pl_reg_delete_key(root, "SOFTWARE\\ZENTRAK\\TovexAgent\\1", 0);
    pl_reg_delete_key(root, "SOFTWARE\\ZENTRAK\\TovexAgent", 0);
  }
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

TEST_F(DaemonRun, ConsoleModeRunsToItsEnd) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties.bak"), "old\n"));
  TkResult r = run({"--dev-console"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(records(), (std::vector<std::string>{"XVRT62004-I The tovx_service has started in the normal mode.",
                                                 "XVRT62010-I Enter daemon main loop.",
                                                 "XVRT62011-I Exit daemon main loop."}));
  EXPECT_EQ(tk_read(at("etc/currentprops/acs_server.properties.bak")), "old\n");
  EXPECT_TRUE(tk_exists(at("etc/currentprops/acs_server.properties")));
}

TEST_F(DaemonRun, AlwaysOnModeIsAnnounced) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"), "server.agent.always=True\n"));
  TkResult r = run({"--dev-console"});
  EXPECT_EQ(r.code, 0);
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
