// The plug-in in a real JVM.
#include <gtest/gtest.h>
#include <string>

#include "platform/child.h"
#include "platform/clock.h"
#include "testkit.h"

namespace {

std::string fs_binDir() {
  std::string b = tk_bin("x");
  return b.substr(0, b.size() - 2);
}

TEST(CtrlShimJvm, XrunLoadingIsRefusedForWantOfJvmpi) {
  TkScratch s;
  TkResult r = tk_run(s, {TOVX_JAVA, "-Xrunctrlshim", "-version"}, "",
                      {"LD_LIBRARY_PATH=" + fs_binDir()}, 60000);
  EXPECT_EQ(r.code, 1);
  std::string said = r.out + r.err; // the JVM writes its start-up errors to either
  EXPECT_NE(said.find("-Xrun library failed to init: ctrlshim"), std::string::npos) << said;
  EXPECT_NE(said.find("JVMPI"), std::string::npos) << said;
}

// Runs the sleeper, sends it SIGHUP once it is ready, and tells whether it
// was still alive a moment later; then ends it with SIGTERM.
struct Outcome {
  bool aliveAfterHup;
  int code;
  std::string out;
};

Outcome fs_hangUp(bool withPlugin) {
  TkScratch s;
  std::vector<std::string> argv = {TOVX_JAVA};
  if (withPlugin)
    argv.push_back("-agentpath:" + fs_binDir() + "/libctrlshim.so");
  argv.insert(argv.end(), {"-cp", TOVX_JAVA_CLASSES, "Sleeper"});
  TkRun run;
  Outcome o = {false, -1, ""};
  if (!tk_start(&run, s, argv, "", {}))
    return o;
  for (int i = 0; i < 300 && tk_read(run.out_path).find("ready") == std::string::npos; ++i)
    pl_sleep_ms(50);
  pl_child_signal(run.child, PL_CHILD_HUP);
  o.aliveAfterHup = pl_child_wait(run.child, 1500, nullptr) == 0;
  if (o.aliveAfterHup)
    pl_child_signal(run.child, PL_CHILD_TERM);
  TkResult r = tk_finish(&run, 30000);
  o.code = r.code;
  o.out = r.out;
  return o;
}

TEST(CtrlShimJvm, HangUpNoLongerEndsTheJvmButTermStillDoes) {
  Outcome with = fs_hangUp(true);
  EXPECT_TRUE(with.aliveAfterHup);
  EXPECT_EQ(with.code, 143) << "SIGTERM still reaches the JVM's handler";
  EXPECT_EQ(with.out, "ready\nhook\n") << "and its shutdown hooks run";

  Outcome without = fs_hangUp(false);
  EXPECT_FALSE(without.aliveAfterHup) << "without the plug-in a hang-up ends the JVM";
  EXPECT_EQ(without.out, "ready\nhook\n");
}
}
