// objtally: its options and request lines, and the real program against
// the JVM peer.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "objtally.h"
#include "platform/file.h"
#include "reqchannel.h"
#include "testkit.h"

namespace {

const char kUsage[] = "usage: objtally [-f|-i] [-class classname] -p process-id \n";

// Parses a command line the way objtally does: the request lines, or the
// exit status and the messages.
struct Parsed {
  int rc;
  std::string msgs;
  std::string lines;
};
Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "objtally");
  std::vector<char *> argv = tk_argv(args);
  OtSettings s;
  RcOptions o;
  Parsed p;
  p.rc = rc_parse_options(&rc_profiles[RC_OBJTALLY], static_cast<int>(args.size()), argv.data(), ot_tool_option, &s,
                          &o, &p.msgs);
  for (const std::string &l : ot_request_lines(s))
    p.lines += l;
  return p;
}

TEST(ObjtallyOptions, RequestLinesAndErrors) {
  struct {
    std::vector<std::string> args;
    int rc;
    std::string msgs, lines;
  } cases[] = {
      {{"-f", "-p", "1234"}, -1, "", "-instance\n-static\n-perm\n-withnotclassobject\n-collectfinalizer\n"},
      {{"-noinstance", "-nostatic", "-noperm", "-nowithnotclassobject", "-nocollectfinalizer", "-f", "-p", "1234"},
       -1, "", ""},
      {{"-class", "java.util.HashMap", "-f", "-p", "1234"},
       -1, "",
       "-instance\n-static\n-perm\n-classjava.util.HashMap\n\n-withnotclassobject\n-collectfinalizer\n"},
      {{"-withstaticmember", "-staticcountinstanceonly", "-noinstance", "-instance", "-p", "5"},
       -1, "",
       "-instance\n-static\n-perm\n-withnotclassobject\n-withstaticmember\n-staticcountinstanceonly\n-collectfinalizer\n"},
      {{"-class", "-p", "1234"}, 1, kUsage, ""},
      {{"-class", "A", "-class", "B", "-p", "1234"}, 1, kUsage, ""},
      {{"-zz", "-p", "1"}, 1, std::string("objtally: illegal option -- zz\n") + kUsage, ""},
      {{}, 1, kUsage, ""},
      {{"-f"}, 1, kUsage, ""},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(tk_args_text(c.args));
    Parsed p = parse(c.args);
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_EQ(p.msgs, c.msgs);
    if (c.rc < 0) {
      EXPECT_EQ(p.lines, c.lines);
    }
  }
}

struct ObjtallyRun : ::testing::Test {
  TkScratch s;
  unsigned long pid = tk_fake_pid();
  TkPeer peer;
  void TearDown() override { tk_stop_peer(&peer); }
  TkResult run(std::vector<std::string> args) {
    args.insert(args.begin(), tk_bin("objtally"));
    return tk_run(s, args, "", s.temp_env());
  }
};

TEST_F(ObjtallyRun, TheRequestCarriesTheProfileLinesAndWaitsWithoutLimit) {
  // The peer answers after 4 s: past the first checks, and the default
  // waits without a limit.
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "answer", 4000));
  TkResult r = run({"-class", "java.lang.String", "-f", "-p", std::to_string(pid)});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> msgs = peer.seen("msg");
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].compare(0, 19, "send SIGBREAK TOI::"), 0) << msgs[0];
  std::vector<std::string> reqs = peer.seen("req");
  ASSERT_EQ(reqs.size(), 1u);
  std::string e = pl_text_eol;
  std::regex shape("1" + e + "[0-9]+ [0-9]+" + e + "-instance" + e + "-static" + e + "-perm" + e +
                   "-classjava\\.lang\\.String" + e + e + "-withnotclassobject" + e + "-collectfinalizer" + e);
  EXPECT_TRUE(std::regex_match(reqs[0], shape)) << reqs[0];
}

} // namespace
