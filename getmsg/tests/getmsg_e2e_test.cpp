// tovx_getmsg end to end: command lines against a scratch installation.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/file.h"
#include "testkit.h"

namespace {

const char kUsage[] = "Usage: tovx_getmsg [-d <default string>] [-epvh]\n"
                      "                   <filename prefix> <resource ID> [<parameter> ...]\n";

struct GetMsg : ::testing::Test {
  TkInstall in;
  void SetUp() override {
    ASSERT_TRUE(tk_write(in.at("msgs/app.txt"), "HELLO=Hello {0} and {1}, not {2}.\n"
                                                "BRACE={{0} {a} {12}\n"
                                                "-v=dash key {0}\n"
                                                "PLAIN=plain text\n"
                                                "LONG=" + std::string(1100, 'x') + "\n"));
  }
  TkResult run(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {tk_bin("tovx_getmsg")};
    argv.insert(argv.end(), args.begin(), args.end());
    return tk_run(in.s, argv, "", in.env);
  }
};

TEST_F(GetMsg, CommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
    int code;
  } cases[] = {
      {{}, "", std::string("Both <filename prefix> and <resource ID> must be specified.\n") + kUsage, 1},
      {{"app"}, "", std::string("Both <filename prefix> and <resource ID> must be specified.\n") + kUsage, 1},
      {{"-d"}, "", std::string("-d option must be followed by an argument.\n") + kUsage, 1},
      {{"-x", "app", "PLAIN"}, "", std::string("Unrecognized option \"-x\" was specified.\n") + kUsage, 1},
      {{"-", "app", "PLAIN"}, "", std::string("Unrecognized option \"-\" was specified.\n") + kUsage, 1},
      {{"-h", "app", "PLAIN"}, "", kUsage, 1},
      {{"app", "PLAIN"}, "plain text\n", "", 0},
      {{"app", "HELLO", "A", "B"}, "Hello A and B, not .\n", "", 0},
      {{"-exyz", "app", "HELLO", "A", "B", "C"}, "", "Hello A and B, not C.\n", 0},
      {{"app", "-v", "-e"}, "dash key -e\n", "", 0},
      {{"app", "BRACE", "A"}, "{{0} {a} {12}\n", "", 0},
      {{"app", "LONG"}, std::string(1024, 'x') + "\n", "", 0},
      {{"-d", "-fallback {0}", "app", "MISSING", "x"}, "-fallback {0}\n", "", 1},
      {{"-e", "-d", "fallback", "app", "MISSING"}, "", "fallback\n", 1},
      {{"app", "MISSING"}, "", "", 1},
      {{"-d", "no file", "nofile", "PLAIN"}, "no file\n", "", 1},
      {{"-p", in.at("msgs/app"), "PLAIN"}, "plain text\n", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(tk_args_text(c.args));
    TkResult r = run(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(GetMsg, TracesTheRun) {
  TkResult r = run({"-v", "-d", "D", "app", "PLAIN", "p1"});
  EXPECT_EQ(r.code, 0);
  std::string expect = "argInfo->opt_p=0\nargInfo->opt_h=0\nargInfo->opt_v=1\nargInfo->opt_e=0\n"
                       "argInfo->defaultString=D\nargInfo->filePrefix=app\nargInfo->resourceID=PLAIN\n"
                       "argInfo->absoluteFilePrefix=\nargInfo->parameters=1\n"
                       "Absolute file name prefix = " + in.at("msgs/app") + "\n"
                       "Message file to be read = " + in.at("msgs/app") + ".txt\n"
                       "format=plain text\n";
  EXPECT_EQ(r.err, expect);

  r = run({"-v", "app", "MISSING"});
  EXPECT_NE(r.err.find("Failed to get message (op=unknown, err=0)\n"), std::string::npos) << r.err;
  r = run({"-v", "nofile", "PLAIN"});
  EXPECT_NE(r.err.find("Failed to initialize MwaMsgBundle (op="), std::string::npos) << r.err;
  EXPECT_EQ(r.code, 1);
}

TEST_F(GetMsg, SeparatorsOfThePrefix) {
  // Without -p either separator names a folder under msgs; with -p the
  // prefix is used as it stands.
  const std::string other = pl_path_sep == '/' ? "\\" : "/";
  ASSERT_EQ(pl_dir_create(in.at("msgs/sub").c_str()), 0);
  ASSERT_TRUE(tk_write(in.at("msgs/sub/app.txt"), "K=in sub\n"));
  TkResult r = run({"-v", "sub" + other + "app", "K"});
  EXPECT_EQ(r.out, "in sub\n");
  EXPECT_NE(r.err.find("Absolute file name prefix = " + in.at("msgs/sub/app") + "\n"), std::string::npos) << r.err;
  r = run({"-v", "-p", "x" + other + "y", "K"});
  EXPECT_NE(r.err.find("Absolute file name prefix = x" + other + "y\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.code, 1);
  // A prefix beyond what the record holds is refused, not cut.
  r = run({"-d", "long", "-p", std::string(600, 'a'), "K"});
  EXPECT_EQ(r.out, "long\n");
  EXPECT_EQ(r.code, 1);
}

TEST(GetMsgNoInstall, TheInstallationDirectoryIsNotFound) {
  std::vector<std::string> env;
  {
    TkInstall gone;
    env = gone.env;
  }
  TkScratch s;
  TkResult r = tk_run(s, {tk_bin("tovx_getmsg"), "-v", "-d", "dflt", "app", "K"}, "", env);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "dflt\n");
  EXPECT_NE(r.err.find("Failed to retrieve TaLV Agent install directory (op=RegOpenKeyEx, err=2).\n"),
            std::string::npos)
      << r.err;
}

} // namespace
