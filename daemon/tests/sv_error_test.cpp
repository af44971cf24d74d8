#include <gtest/gtest.h>
#include <string>

#include "daemon_fixture.h"
#include "sv_error.h"

namespace {

using SvError = InstallTree;
const std::string kStamp = "2009/04/20 01:20:29 : ";

TEST_F(SvError, LineFormats) {
  PutMessage(21819);
  PutMessage(99999); // not in the catalogue: nothing
  PutErrorDetail(SV_LINE_SYSCALL, "ReadHttp", 58, "Readline", 10054, 3, "CommonAgent-OPEN", PL_INVALID_SOCKET);
  PutErrorDetail(SV_LINE_ROUTINE, "InitTcpserv", 168, "GetAgentArgData", 2, -1, "?", PL_INVALID_SOCKET);
  PutErrorDetail(21023, "x", 1, "y", 0, 0, "?", PL_INVALID_SOCKET); // unknown kind: nothing
  PutErrorText("already ends\n");
  PutTrafficMessage(21842, PL_INVALID_SOCKET);
  PutTrafficMessage(21000, PL_INVALID_SOCKET);
  PutStatusMessage(21817, 0, 2);
  PutStatusMessage(21834, 0, 4);
  PutStatusMessage(21833, 1, 0x3a);
  PutStatusMessage(1, 1, 1);
  EXPECT_EQ(log(), kStamp + "XVRT62010-I Enter daemon main loop.\n" +
                       kStamp + "XVRT62632-E ReadHttp.00058 Readline EC=10054 OpenCount=3 Data=CommonAgent-OPEN IP=?\n" +
                       kStamp + "XVRT62634-E InitTcpserv.00168 GetAgentArgData RC=2 OpenCount=-1 Data=? IP=?\n" +
                       kStamp + "XVRT62633-E already ends\n" +
                       kStamp + "XVRT62022-I A 'CommonAgent-OPEN' was received from the '?'.\n" +
                       kStamp + "XVRT62008-I The daemon status was changed from 0 to 2.\n" +
                       kStamp + "XVRT62015-I The service status was changed. ServiceStatus=4.\n" +
                       kStamp + "XVRT62014-I A service control was received. ControlCode=1, ServiceStatus=3A.\n");
}

TEST_F(SvError, LongLinesAreCutAt511Characters) {
  PutErrorText(std::string(2000, 'x').c_str());
  std::string l = log();
  ASSERT_EQ(l.size(), 512u);
  EXPECT_EQ(l.back(), '\n');
  EXPECT_EQ(l.substr(0, kStamp.size() + 12), kStamp + "XVRT62633-E ");
}

TEST_F(SvError, RotatesOnlyAboveOneMillionBytes) {
  std::string path = at("bin/logs/tovxservice.log");
  for (size_t size : {1000000u, 1000001u}) {
    ASSERT_TRUE(tk_write(path, std::string(size, 'a')));
    ASSERT_TRUE(tk_write(path + ".1", "older"));
    PutMessage(21820);
    std::string line = kStamp + "XVRT62011-I Exit daemon main loop." + pl_text_eol;
    if (size == 1000000u) {
      EXPECT_EQ(tk_read(path), std::string(size, 'a') + line);
      EXPECT_EQ(tk_read(path + ".1"), "older");
    } else {
      EXPECT_EQ(tk_read(path), line);
      EXPECT_EQ(tk_read(path + ".1"), std::string(size, 'a'));
    }
  }
}

TEST_F(SvError, WritesOutsideTheLogsLifeLeaveNoTrace) {
  TermErrorLog();
  PutMessage(21819);
  EXPECT_FALSE(tk_exists(at("bin/logs/tovxservice.log")));
  ASSERT_EQ(InitErrorLog(), 0);
  // A missing log directory loses the record, quietly.
  ASSERT_EQ(pl_dir_remove(at("bin/logs").c_str()), 0);
  PutMessage(21819);
  EXPECT_FALSE(tk_exists(at("bin/logs/tovxservice.log")));
  ASSERT_EQ(pl_dir_create(at("bin/logs").c_str()), 0);
}

TEST_F(SvError, SystemErrorTextIsLogged) {
  PutSystemError(0x7ffff123);
  EXPECT_EQ(log(), kStamp + "XVRT62633-E (null)\n");
}
}
