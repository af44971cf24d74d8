#include <gtest/gtest.h>
#include <string>

#include "daemon.h"
#include "daemon_fixture.h"

namespace {

using AgentConfig = InstallTree;

struct Case {
  std::string file;
  int rc;
  uint16_t agent = 24041, http = 24042, local = 24043;
  uint32_t always = 0;
  const char *xmx = "";
  const char *xss = "";
  const char *logged = nullptr; // message id expected in the log
};

TEST_F(AgentConfig, TableOfPropertiesFiles) {
  const Case cases[] = {
      {"", 0},
      {"server.agent.port = 24050\n", 0, 24050},
      {"#server.agent.port=1\nserver.agent.port=24050#comment\n", 0, 24050},
      {"server.agent.port=24050\nserver.agent.port=80\n", 0, 80},
      {"server.agent.port=99999\n", 0},
      {"server.agent.port=0\n", 0},
      {"server.agent.port=word\n", 0},
      {"server.agent.port=1e3\n", 0},
      {"server.agent.port=24041abc\n", 0},
      {"server.agent.port=\n", 0},
      {"Server.agent.port=24050\n", 0},
      {"server.agent.port\t=\t2 4 0 6 0\n", 0, 24060},
      {"server.http.port=24043\n", 2, 24041, 24043, 24043, 0, "", "", "XVRT62629-E"},
      {"server.http.port=24041\n", 2, 24041, 24041, 24043, 0, "", "", "XVRT62627-E"},
      {"server.http.localPort=24041\n", 2, 24041, 24042, 24041, 0, "", "", "XVRT62630-E"},
      {"server.agent.always=TRUE\n", 0, 24041, 24042, 24043, 1},
      {"server.agent.always=true\nserver.agent.always=false\n", 0, 24041, 24042, 24043, 1},
      {"server.agent.always=yes\n", 0},
      {"server.agent.maxMemorySize=4096\n", 0, 24041, 24042, 24043, 0, "-Xmx4096m"},
      {"server.agent.maxMemorySize=32\n", 0, 24041, 24042, 24043, 0, "-Xmx32m"},
      {"server.agent.maxMemorySize=4097\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62639-E"},
      {"server.agent.maxMemorySize=31\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62639-E"},
      {"server.agent.maxMemorySize=-64\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62638-E"},
      {"server.agent.maxMemorySize=512m\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62638-E"},
      {"server.agent.maxMemorySize=x\nserver.agent.maxMemorySize=64\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62638-E"},
      {"server.agent.maxMemorySize=\n", 0},
      {"server.agent.maxMemorySize=99999999999999999999999999\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62639-E"},
      {"server.agent.maxStackSize=8\n", 0, 24041, 24042, 24043, 0, "", "-Xss8m"},
      {"server.agent.maxStackSize=1\n", 0, 24041, 24042, 24043, 0, "", "-Xss1m"},
      {"server.agent.maxStackSize=256\n", 0, 24041, 24042, 24043, 0, "", "-Xss256k"},
      {"server.agent.maxStackSize=8192\n", 0, 24041, 24042, 24043, 0, "", "-Xss8192k"},
      {"server.agent.maxStackSize=9\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62641-E"},
      {"server.agent.maxStackSize=255\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62641-E"},
      {"server.agent.maxStackSize=0\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62641-E"},
      {"server.agent.maxStackSize=8193\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62641-E"},
      {"server.agent.maxStackSize=1k\n", 2, 24041, 24042, 24043, 0, "", "", "XVRT62640-E"},
      // A line longer than 126 characters is read in pieces.
      {std::string(126, '#') + "server.agent.port=24070\n", 0, 24070},
  };
  std::string path = at("agent/config/server.properties");
  const char *script[] = {"./bin/Server.sh", nullptr};
  for (const Case &c : cases) {
    ASSERT_TRUE(tk_write(path, c.file));
    ASSERT_TRUE(tk_write(at("bin/logs/tovxservice.log"), ""));
    MngInfo m = {};
    m.agentArgs = script;
    int rc = GetAgentArgDataFrom(&m, path.c_str());
    SCOPED_TRACE(c.file);
    EXPECT_EQ(rc, c.rc);
    std::string l = log();
    if (c.logged) {
      EXPECT_NE(l.find(c.logged), std::string::npos) << l;
    } else {
      EXPECT_EQ(l, "");
    }
    if (rc != 0)
      continue;
    EXPECT_EQ(m.agentPort, c.agent);
    EXPECT_EQ(m.httpPort, c.http);
    EXPECT_EQ(m.localPort, c.local);
    EXPECT_EQ(m.alwaysOn, c.always);
    ASSERT_NE(m.agentArgs, nullptr);
    EXPECT_STREQ(m.agentArgs[0], "./bin/Server.sh");
    EXPECT_STREQ(m.agentArgs[1], c.xmx);
    EXPECT_STREQ(m.agentArgs[2], c.xss);
    EXPECT_EQ(m.agentArgs[3], nullptr);
  }
}

TEST_F(AgentConfig, MissingFileIsLoggedAndGivesDefaults) {
  MngInfo m = {};
  const char *script[] = {"s", nullptr};
  m.agentArgs = script;
  EXPECT_EQ(GetAgentArgDataFrom(&m, at("agent/config/none.properties").c_str()), 0);
  EXPECT_EQ(m.agentPort, 24041);
  std::string l = log();
  EXPECT_NE(l.find("XVRT62632-E GetAgentArgData.00089 fopen EC=2 OpenCount=0 Data=? IP=?"), std::string::npos) << l;
  EXPECT_NE(l.find("XVRT62633-E "), std::string::npos);
}
}
