// mwa_sysinit against the registry: the stand-in on POSIX, the real one
// under wine.
#include <gtest/gtest.h>
#include <string>

#include "mwa_system.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "testkit.h"

namespace {

const char kTop[] = "SOFTWARE\\ZENTRAK\\TovexAgent";

struct InstallKey : ::testing::Test {
  TkScratch s;
  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    wipe();
  }
  void TearDown() override { wipe(); }
  static void wipe() {
    PlHkey root = pl_reg_root(PL_HKLM);
    for (const char *sub : {"A\\PathName", "A", "B\\PathName", "B", ""}) {
      std::string k = std::string(kTop) + (*sub ? "\\" : "") + sub;
      pl_reg_delete_key(root, k.c_str(), 0);
    }
  }
  void addPath(const char *product, const std::string &value) {
    PlHkey k;
    std::string sub = std::string(kTop) + "\\" + product + "\\PathName";
    ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKLM), sub.c_str(), PL_REG_ALL, &k), 0);
    ASSERT_EQ(pl_reg_set_value(k, "Path00", PL_REG_SZ, value.c_str(),
                               static_cast<uint32_t>(value.size() + 1)), 0);
    pl_reg_close(k);
  }
};

TEST_F(InstallKey, FirstSubkeyNamesTheInstallation) {
  std::string dir = s.dir;
  ASSERT_EQ(pl_dir_create(s.path("etc").c_str()), 0);
  ASSERT_TRUE(tk_write(s.path("etc") + pl_path_sep + "amc_version.properties", "version.marketing=7.1\n"));
  addPath("B", "elsewhere");
  addPath("A", dir);
  MwaErrorInfo e;
  ASSERT_EQ(mwa_sysinit(&e), 1) << e.op << " " << e.err;
  EXPECT_EQ(std::string(mwa_getinstalldir()), dir);
  EXPECT_STREQ(mwa_getversionmarketing(), "7.1");
}

TEST_F(InstallKey, EachMissingStepNamesItsCall) {
  MwaErrorInfo e;
  EXPECT_EQ(mwa_sysinit(&e), 0);
  EXPECT_STREQ(e.op, "RegOpenKeyEx");
  EXPECT_EQ(e.err, 2);
  PlHkey k;
  ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKLM), kTop, PL_REG_ALL, &k), 0);
  pl_reg_close(k);
  EXPECT_EQ(mwa_sysinit(&e), 0);
  EXPECT_STREQ(e.op, "RegEnumKeyEx");
  EXPECT_EQ(e.err, PL_ERR_NO_MORE_ITEMS);
  ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKLM), (std::string(kTop) + "\\A\\PathName").c_str(),
                          PL_REG_ALL, &k), 0);
  EXPECT_EQ(mwa_sysinit(&e), 0);
  EXPECT_STREQ(e.op, "RegQueryValueEx");
  // A value that fills the whole buffer leaves no room for its end.
  std::string big(MWA_PATH_MAX, 'x');
  ASSERT_EQ(pl_reg_set_value(k, "Path00", PL_REG_BINARY, big.data(), MWA_PATH_MAX), 0);
  pl_reg_close(k);
  EXPECT_EQ(mwa_sysinit(&e), 0);
  EXPECT_STREQ(e.op, "RegQueryValueEx");
  // Paths built, version record missing.
  addPath("A", s.dir);
  EXPECT_EQ(mwa_sysinit(&e), 0);
  EXPECT_STREQ(e.op, "fopen");
  EXPECT_EQ(std::string(mwa_getinstalldir()), s.dir);
}
}
