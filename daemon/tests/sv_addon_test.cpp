#include <gtest/gtest.h>
#include <string>

#include "daemon.h"
#include "daemon_fixture.h"
#include "platform/procinfo.h"

namespace {

using StartupFiles = InstallTree;

std::string fs_path() {
  char buf[65536];
  long n = pl_getenv("PATH", buf, sizeof buf);
  return n >= 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

TEST_F(StartupFiles, AddOnDirectoriesGoInFrontOfPath) {
  std::string L(1, pl_path_list_sep);
  struct {
    std::string file;
    std::string prefix;
  } cases[] = {
      {"PATH=C:\\a\nPATH=C:\\b\nPATH=C:\\a\n", "C:\\a" + L + "C:\\b" + L},
      {"path=C:\\x\nPATH=\n", L},
      {"# PATH=C:\\c\n PATH=C:\\d\nPATH=C:\\e f \n", "C:\\e f " + L},
      {"PATH=" + std::string(522, 'p') + "\nPATH=" + std::string(521, 'q') + "\n", "PATH"},
  };
  std::string file = at("agent/config/addonpath.properties");
  for (auto &c : cases) {
    pl_setenv("PATH", "old");
    ASSERT_TRUE(tk_write(file, c.file));
    EXPECT_EQ(AddAddOnPath(), 0);
    std::string expect = c.prefix == "PATH" ? std::string(521, 'q') + L : c.prefix;
    EXPECT_EQ(fs_path(), expect + "old") << c.file;
  }
  pl_setenv("PATH", "old");
  pl_file_delete(file.c_str());
  EXPECT_EQ(AddAddOnPath(), 0);
  EXPECT_EQ(fs_path(), "old") << "no file: nothing added";
  EXPECT_EQ(log(), "");
}

TEST_F(StartupFiles, PropertiesFilesAreCopiedWithThePrefix) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"), "a=1\n"));
  ASSERT_TRUE(tk_write(at("agent/config/server.properties.bak"), "bak\n"));
  ASSERT_TRUE(tk_write(at("agent/config/readme.txt"), "no\n"));
  ASSERT_TRUE(tk_write(at("etc/currentprops/acs_server.properties"), "stale"));
  EXPECT_EQ(GetCurrentProps_win(), 0);
  EXPECT_EQ(tk_read(at("etc/currentprops/acs_server.properties")), "a=1\n");
  EXPECT_EQ(tk_read(at("etc/currentprops/acs_server.properties.bak")), "bak\n");
  EXPECT_FALSE(tk_exists(at("etc/currentprops/acs_readme.txt")));
  EXPECT_EQ(log(), "");
}

TEST_F(StartupFiles, MissingTargetOrEmptyConfigFails) {
  ASSERT_TRUE(tk_write(at("agent/config/server.properties"), "a=1\n"));
  ASSERT_EQ(pl_dir_remove(at("etc/currentprops").c_str()), 0);
  EXPECT_EQ(GetCurrentProps_win(), 2);
  EXPECT_NE(log().find("XVRT62632-E GetCurrentProps_win.00309 CopyFile EC="), std::string::npos) << log();
  ASSERT_EQ(pl_dir_create(at("etc/currentprops").c_str()), 0);
  pl_file_delete(at("agent/config/server.properties").c_str());
  EXPECT_EQ(GetCurrentProps_win(), 2);
  EXPECT_NE(log().find("XVRT62632-E GetCurrentProps_win.00329 FindFirstFile EC="), std::string::npos) << log();
}
}
