#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "mwa_process.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/proc.h"
#include "testkit.h"

namespace {

std::string fs_quote(const std::string &a) {
  std::vector<char> out(2 * a.size() + 3);
  size_t n = mwa_quoteArg(a.data(), a.size(), out.data());
  return std::string(out.data(), n);
}

TEST(CommandLine, QuotingRules) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"a b\\", "\"a b\\\\\""},
      {"a\"b", "a\\\"b"},
      {"a\tb", "\"a\tb\""},
      {"a\\b", "a\\b"},
      {"a\\", "a\\"},
      {"a\\\\\"b", "a\\\\\\\\\\\"b"},
      {"\"", "\\\""},
      {"a b\"", "\"a b\\\"\""},
      {"C:\\Program Files\\x\\", "\"C:\\Program Files\\x\\\\\""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(fs_quote(c.in), c.out) << c.in;
}

TEST(CommandLine, EmptyOptionsLeaveTheirBlanks) {
  const char *args[] = {".\\bin\\Server.cmd", "", "", nullptr};
  MwaErrorInfo e;
  char *cmd = mwa_buildCommandLine(args, &e);
  ASSERT_NE(cmd, nullptr);
  EXPECT_STREQ(cmd, ".\\bin\\Server.cmd  ");
  free(cmd);
}

TEST(CommandLine, WhatIsBuiltSplitsBackIntoTheArguments) {
  const std::vector<std::string> args = {"prog", "a b", "x\"y", "tail\\", "sp ace\\", "\\\\\"", "\t", "-Xmx512m"};
  std::vector<const char *> ptrs;
  for (const std::string &a : args)
    ptrs.push_back(a.c_str());
  ptrs.push_back(nullptr);
  MwaErrorInfo e;
  char *cmd = mwa_buildCommandLine(ptrs.data(), &e);
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(pl_split_command_line(cmd), args) << cmd;
  free(cmd);
}

TEST(Process, EndIsObservedOnce) {
  MwaErrorInfo e;
  MwaProcess *p = MwaProcess_new(&e);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(MwaProcess_isRunning(p, &e), 0) << "nothing attached";
  std::string probe = tk_bin("proc_probe");
  const char *args[] = {probe.c_str(), "exit", "7", nullptr};
  ASSERT_EQ(MwaProcess_start(p, args, &e), 1) << e.op << " " << e.err;
  EXPECT_NE(p->pi.pid, 0u);
  ASSERT_EQ(MwaProcess_waitEnd(p, &e), 1);
  EXPECT_EQ(p->exitCode, 7u);
  EXPECT_EQ(p->pi.process, 0) << "handles closed and cleared";
  EXPECT_EQ(MwaProcess_isRunning(p, &e), 0);
  EXPECT_EQ(MwaProcess_terminate(p, &e), 1) << "nothing to end";
  MwaProcess_free(p);

  p = MwaProcess_new(&e);
  const char *missing[] = {"no-such-program-here", nullptr};
  EXPECT_EQ(MwaProcess_start(p, missing, &e), 0);
  EXPECT_STREQ(e.op, "CreateProcess");
  MwaProcess_free(p);
}

TEST(Process, KillTreeEndsGrandchildren) {
  TkScratch s;
  MwaErrorInfo e;
  MwaProcess *p = MwaProcess_new(&e);
  std::string probe = tk_bin("proc_probe");
  const char *args[] = {probe.c_str(), "tree", "2", s.dir.c_str(), nullptr};
  ASSERT_EQ(MwaProcess_start(p, args, &e), 1);
  std::vector<uint32_t> pids;
  for (int d = 2; d >= 0; --d) {
    std::string f = s.path("pid_" + std::to_string(d));
    ASSERT_TRUE(tk_wait_file(f, 20000)) << f;
    pids.push_back(static_cast<uint32_t>(std::stoul(tk_read(f))));
  }
  EXPECT_EQ(MwaProcess_isRunning(p, &e), 1);
  ASSERT_EQ(MwaProcess_killTree(p, &e), 1) << e.op;
  EXPECT_EQ(MwaProcess_waitEnd(p, &e), 1);
  for (uint32_t pid : pids) {
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
      gone = !pl_proc_alive(pid);
      if (!gone)
        pl_sleep_ms(20);
    }
    EXPECT_TRUE(gone) << pid;
  }
  MwaProcess_free(p);
}

TEST(Process, ReusedIdsInACycleAreVisitedOnce) {
  // Ids far above any this machine hands out: ending them does nothing.
  ProcessEntryArray *list = ProcessEntryArray_new();
  const MwaProcessEntry entries[] = {{2000000001u, 2000000000u}, {2000000002u, 2000000001u},
                                     {2000000001u, 2000000002u}, {2000000003u, 2000000003u}};
  for (const auto &x : entries)
    ASSERT_TRUE(ProcessEntryArray_pushBack(list, &x));
  mwa_killDescendants(list, 2000000000u); // returns: no endless descent
  mwa_killDescendants(list, 2000000003u);
  ProcessEntryArray_free(list);
  MwaErrorInfo e;
  list = ProcessEntryArray_new();
  ASSERT_EQ(mwa_listProcesses(list, &e), 1);
  EXPECT_GT(ProcessEntryArray_getSize(list), 1);
  ProcessEntryArray_free(list);
}
}
