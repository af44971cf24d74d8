// The real tovx_util against a registered package: the registry stand-in
// on POSIX, wine's registry under wine.
#include <gtest/gtest.h>
#include <regex>
#include <string>

#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"
#include "testkit.h"
#include "tovx_util.h"

namespace {

const std::string kInst = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::string(kProductCode);

struct Cleanup : ::testing::Test {
  TkScratch s;
  std::string packed = kPackedProductCode, upgrade = kPackedUpgradeCode;
  std::string me = "S-1-5-18", other = "S-1-5-21-42";

  std::string logPath;
  std::vector<std::string> env;

  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    env = {"TOVX_REGISTRY=" + s.path("registry"), "TOVX_ICON_ROOT=" + s.path("icons")};
    // Where the system sets SystemDrive for every process (wine does),
    // the log goes there; elsewhere the test points it at its folder.
    char drive[1024];
    long n = pl_getenv("SystemDrive", drive, sizeof drive);
    if (n > 0 && n < static_cast<long>(sizeof drive)) {
      logPath = std::string(drive) + pl_path_sep + "TovexAgent_util.log";
      pl_file_delete(logPath.c_str());
    } else {
      logPath = s.path("TovexAgent_util.log");
      env.push_back("SystemDrive=" + s.dir);
    }
  }
  void TearDown() override { wipe(); }

  static void key(PlRegRoot root, const std::string &path, const char *value = nullptr,
                  const std::string &data = "") {
    PlHkey k;
    ASSERT_EQ(pl_reg_create(pl_reg_root(root), path.c_str(), PL_REG_ALL, &k), 0) << path;
    if (value) {
      ASSERT_EQ(pl_reg_set_value(k, value, PL_REG_SZ, data.c_str(), static_cast<uint32_t>(data.size() + 1)), 0);
    }
    pl_reg_close(k);
  }
  static bool exists(PlRegRoot root, const std::string &path) {
    PlHkey k;
    if (pl_reg_open(pl_reg_root(root), path.c_str(), PL_REG_READ, &k) != 0)
      return false;
    pl_reg_close(k);
    return true;
  }
  static void wipeTree(PlRegRoot root, const std::string &path) {
    PlHkey k;
    if (pl_reg_open(pl_reg_root(root), path.c_str(), PL_REG_ALL, &k) != 0)
      return;
    std::vector<std::string> subs;
    char name[1024];
    for (uint32_t i = 0, len = sizeof name; pl_reg_enum_key(k, i, name, &len) == 0; ++i, len = sizeof name)
      subs.push_back(name);
    pl_reg_close(k);
    for (const std::string &sub : subs)
      wipeTree(root, path + "\\" + sub);
    pl_reg_delete_key(pl_reg_root(root), path.c_str(), 0);
  }
  void wipe() {
    wipeTree(PL_HKLM, kUninstallKey);
    wipeTree(PL_HKLM, kInst + "\\UpgradeCodes\\" + upgrade);
    wipeTree(PL_HKLM, kInst + "\\UserData\\" + me);
    wipeTree(PL_HKLM, kInst + "\\UserData\\" + other);
    wipeTree(PL_HKCU, "Software\\Microsoft\\Installer\\Features\\" + packed);
    wipeTree(PL_HKCU, "Software\\Microsoft\\Installer\\Products\\" + packed);
    wipeTree(PL_HKCU, "Software\\Microsoft\\Installer\\UpgradeCodes\\" + upgrade);
  }
  // The package as an installation leaves it, with its cached package
  // (read-only) and its icon.
  void registerPackage() {
    key(PL_HKLM, kUninstallKey, "DisplayName", "TOVX");
    key(PL_HKLM, kInst + "\\UpgradeCodes\\" + upgrade, packed.c_str(), "");
    std::string prod = kInst + "\\UserData\\" + me + "\\Products\\" + packed;
    for (const char *sub : {"Features", "Patches", "Usage"})
      key(PL_HKLM, prod + "\\" + sub);
    ASSERT_TRUE(tk_write(s.path("cached.msi"), "msi"));
    key(PL_HKLM, prod + "\\InstallProperties", "LocalPackage", s.path("cached.msi"));
    for (const char *code : {kPackedComponentCodes[0], kPackedComponentCodes[61]})
      key(PL_HKLM, kInst + "\\UserData\\" + me + "\\Components\\" + code);
    // Another user's components without our product stay.
    key(PL_HKLM, kInst + "\\UserData\\" + other + "\\Components\\" + kPackedComponentCodes[0]);
    key(PL_HKCU, "Software\\Microsoft\\Installer\\Features\\" + packed);
    std::string up = "Software\\Microsoft\\Installer\\Products\\" + packed;
    key(PL_HKCU, up + "\\SourceList\\Media");
    key(PL_HKCU, up + "\\SourceList\\Net");
    key(PL_HKCU, up, "ProductIcon", "%TOVX_ICON_ROOT%" + std::string(1, pl_path_sep) + "ARPPRODUCTICON.exe");
    key(PL_HKCU, "Software\\Microsoft\\Installer\\UpgradeCodes\\" + upgrade, packed.c_str(), "");
    ASSERT_EQ(pl_dir_create(s.path("icons").c_str()), 0);
    ASSERT_TRUE(tk_write(s.path("icons") + pl_path_sep + "ARPPRODUCTICON.exe", "icon"));
  }
  TkResult run(std::vector<std::string> args) {
    args.insert(args.begin(), tk_bin("tovx_util"));
    return tk_run(s, args, "", env);
  }
  std::string log() { return tk_read_text(logPath); }
};

TEST_F(Cleanup, RemovesThePackageAndOnlyThePackage) {
  registerPackage();
  // The cached package is read-only, as the installer leaves it.
  ASSERT_EQ(pl_file_set_readonly(s.path("cached.msi").c_str()), 0);
  TkResult r = run({"-cleanup"});
  EXPECT_EQ(r.code, 0) << r.out << log();
  std::string sep(1, pl_path_sep);
  std::string HKLM = "HKEY_LOCAL_MACHINE\\", HKCU = "HKEY_CURRENT_USER\\";
  std::string prod = kInst + "\\UserData\\" + me + "\\Products\\" + packed;
  std::string expect =
      "Delete registry : " + HKLM + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kProductCode + "\n" +
      "Delete registry : " + HKLM + kInst + "\\UpgradeCodes\\" + upgrade + "\\" + packed + "\n" +
      "Delete registry : " + HKLM + prod + "\\Features\n" +
      "Delete registry : " + HKLM + prod + "\\InstallProperties\n" +
      "Delete registry : " + HKLM + prod + "\\Patches\n" +
      "Delete registry : " + HKLM + prod + "\\Usage\n" +
      "Delete registry : " + HKLM + kInst + "\\UserData\\" + me + "\\Products\\" + packed + "\n" +
      "Delete registry : " + HKLM + kInst + "\\UserData\\" + me + "\\Components\\" + kPackedComponentCodes[0] + "\n" +
      "Delete registry : " + HKLM + kInst + "\\UserData\\" + me + "\\Components\\" + kPackedComponentCodes[61] + "\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\Features\\" + packed + "\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\Products\\" + packed + "\\SourceList\\Media\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\Products\\" + packed + "\\SourceList\\Net\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\Products\\" + packed + "\\SourceList\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\Products\\" + packed + "\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\UpgradeCodes\\" + upgrade + "\\" + packed + "\n" +
      "Delete registry : " + HKCU + "Software\\Microsoft\\Installer\\UpgradeCodes\\" + upgrade + "\n" +
      "Delete file : " + s.path("cached.msi") + "\n" +
      "Delete file : " + s.path("icons") + sep + "ARPPRODUCTICON.exe\n" +
      "Delete Directory : " + s.path("icons") + "\n";
  EXPECT_EQ(r.out, expect);
  EXPECT_FALSE(exists(PL_HKLM, kUninstallKey));
  EXPECT_TRUE(exists(PL_HKLM, kInst + "\\UserData\\" + other + "\\Components\\" + kPackedComponentCodes[0]));
  EXPECT_FALSE(tk_exists(s.path("cached.msi")));
  EXPECT_FALSE(tk_exists(s.path("icons")));

  std::string l = log();
  std::regex line("(INFO |WARN ) [0-9]{2}-[0-9]{2}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} XVRT650[0-9]{2}-[IW] .*");
  size_t pos = 0, lines = 0;
  while (pos < l.size()) {
    size_t end = l.find('\n', pos);
    std::string one = l.substr(pos, end - pos);
    EXPECT_TRUE(std::regex_match(one, line)) << one;
    pos = end + 1;
    ++lines;
  }
  EXPECT_GT(lines, 20u);
  for (const std::string &want :
       {std::string("XVRT65001-I ENTER - tovx_util"), std::string("XVRT65003-I Variable UtilExecMode is set to cleanup"),
        std::string("XVRT65003-I Variable bIsWow64 is set to 0"),
        "XVRT65003-I Variable szLocalPackage is set to " + s.path("cached.msi"),
        "XVRT65003-I Variable szProductDir is set to " + s.path("icons"),
        std::string("XVRT65005-I Registry not found : HKEY_LOCAL_MACHINE\\") + kInst + "\\UserData\\" + other +
            "\\Products\\" + packed,
        std::string("XVRT65003-I Variable nErrCount is set to 0"), std::string("XVRT65002-I LEAVE - tovx_util RC=0")})
    EXPECT_NE(l.find(want), std::string::npos) << want;

  // Again: everything is gone, nothing fails, nothing is echoed.
  r = run({"-cleanup"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(Cleanup, SilentAndFailures) {
  registerPackage();
  // A file left in the icon directory makes its removal fail.
  ASSERT_TRUE(tk_write(s.path("icons") + pl_path_sep + "extra", "x"));
  TkResult r = run({"-s", "-cleanup"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(log().find("XVRT65304-W Failed delete Directory : " + s.path("icons")), std::string::npos);
  EXPECT_NE(log().find("Variable nErrCount is set to 1"), std::string::npos);
  pl_file_delete((s.path("icons") + pl_path_sep + "extra").c_str());
  pl_dir_remove(s.path("icons").c_str());
}

TEST(ProductIcon, OnlyALeadingVariableIsExpanded) {
  pl_setenv("TOVX_T_ROOT", "C:\\Inst");
  pl_setenv("TOVX_T_EMPTY", "");
  struct {
    const char *in, *out;
  } cases[] = {
      {"%TOVX_T_ROOT%\\ARPPRODUCTICON.exe", "C:\\Inst\\ARPPRODUCTICON.exe"},
      {"C:\\a\\ARPPRODUCTICON.exe", "C:\\a\\ARPPRODUCTICON.exe"},
      {"C:\\50%off\\x.exe", "C:\\50%off\\x.exe"},
      {"%TOVX_T_UNSET%\\x.exe", "%TOVX_T_UNSET%\\x.exe"},
      {"%TOVX_T_EMPTY%\\x.exe", "%TOVX_T_EMPTY%\\x.exe"},
      {"%TOVX_T_ROOT%", "%TOVX_T_ROOT%"},
      {"%TOVX_T_ROOT%\\a%b", "C:\\Inst\\a"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(TovxExpandIcon(c.in), c.out) << c.in;
}

TEST_F(Cleanup, ArgumentRules) {
  struct {
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {{}, 1, "tovx_util [-cleanup]\n"},
      {{"-s"}, 0, ""},
      {{"-cleanup", "-cleanup"}, 1, "An illegal option is specified. [-cleanup -cleanup]\n"},
      {{"-s", "-x", "-cleanup"}, 1, "An illegal option is specified. [-s -x -cleanup]\n"},
      {{"-Cleanup"}, 1, "An illegal option is specified. [-Cleanup]\n"},
  };
  registerPackage();
  for (const auto &c : cases) {
    TkResult r = run(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_TRUE(exists(PL_HKLM, kUninstallKey)) << "nothing was cleaned";
  EXPECT_NE(log().find("WARN "), std::string::npos);
}
}
