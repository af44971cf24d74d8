// The real collectnow against the JVM peer.
#include <gtest/gtest.h>
#include <regex>
#include <string>

#include "platform/child.h"
#include "platform/file.h"
#include "testkit.h"

namespace {

struct CollectnowRun : ::testing::Test {
  TkScratch s;
  unsigned long pid = tk_fake_pid();
  TkPeer peer;

  void TearDown() override { tk_stop_peer(&peer); }
  std::string pidText() const { return std::to_string(pid); }
  std::string req() const { return s.dir_sep() + pl_path_sep + ".collectnow_req_" + pidText(); }
  std::string lock() const { return s.dir_sep() + pl_path_sep + "lock_collectnow_req_" + pidText(); }
  TkResult run(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), tk_bin("collectnow"));
    return tk_run(s, args, input, s.temp_env());
  }
};

TEST_F(CollectnowRun, AnsweredRequestCarriesExactMessageAndLines) {
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "answer"));
  TkResult r = run({"-s", "-v", "-f", "-p", pidText()});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(tk_exists(req()));
  EXPECT_FALSE(tk_exists(lock()));

  std::vector<std::string> msgs = peer.seen("msg");
  ASSERT_EQ(msgs.size(), 1u);
  std::string expect = "send SIGBREAK GC::" + s.dir_sep();
  expect += '\0';
  EXPECT_EQ(msgs[0], expect) << "the zero byte is part of the message";

  std::vector<std::string> reqs = peer.seen("req");
  ASSERT_EQ(reqs.size(), 1u);
  std::string eol = pl_text_eol;
  std::regex shape("1" + eol + "([0-9]+) ([0-9]+)" + eol + "-v" + eol + "-s" + eol);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(reqs[0], m, shape)) << reqs[0];
  // FILETIME high half: any time after 2020 has a high half above 30000000.
  EXPECT_GT(std::stoul(m[1].str()), 30000000UL);
}

TEST_F(CollectnowRun, NoAnswerInTimeTimesOutAndRemovesTheRequest) {
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "never"));
  TkResult r = run({"-f", "-t", "1", "-p", pidText()});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, pidText() + ": Timeout occurred. Java process not responding.\n");
  EXPECT_FALSE(tk_exists(req()));
}

TEST_F(CollectnowRun, NoJvmCannotBeReached) {
  TkResult r = run({"-f", "-p", pidText()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "collectnow: can't communicate with process " + pidText() + ".");
  EXPECT_FALSE(tk_exists(req()));
  EXPECT_FALSE(tk_exists(lock()));
}

TEST_F(CollectnowRun, StaleLockAndOldAnswerAreTakenSilently) {
  ASSERT_TRUE(tk_write(lock(), ""));
  ASSERT_TRUE(tk_write(req(), "0\n"));
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "answer"));
  TkResult r = run({"-f", "-p", pidText()});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(tk_exists(lock()));
  EXPECT_FALSE(tk_exists(req()));
}

TEST_F(CollectnowRun, LockThatCannotBeDeletedMeansARequestInProgress) {
  ASSERT_EQ(pl_dir_create(lock().c_str()), 0);
  TkResult r = run({"-f", "-p", pidText()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, pidText() + ": Now processing previous request, this request canceled\n");
  pl_dir_remove(lock().c_str());
}

TEST_F(CollectnowRun, UnansweredEarlierRequestCancelsThisOne) {
  ASSERT_TRUE(tk_write(req(), "1\n"));
  TkResult r = run({"-f", "-p", pidText()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "collectnow: can't create work file at temporary directory, this request canceled\n");
  EXPECT_EQ(tk_read(req()), "1\n") << "the earlier request is left as it was";
}

TEST_F(CollectnowRun, RequestFileVanishingWhileWaitingIsAnError) {
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "delete"));
  TkResult r = run({"-f", "-t", "30", "-p", pidText()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "collectnow: unexpected error occurred: fopen() (errno=2)\n");
}

TEST_F(CollectnowRun, WithoutLimitEmptiedOrDeletedFileEndsTheWait) {
  for (const char *mode : {"empty", "delete"}) {
    TkPeer p;
    ASSERT_TRUE(tk_start_peer(&p, s, pid, mode, 200));
    TkResult r = run({"-f", "-t", "0", "-p", pidText()});
    tk_stop_peer(&p);
    EXPECT_EQ(r.code, 0) << mode;
    EXPECT_EQ(r.err, "") << mode;
    EXPECT_FALSE(tk_exists(req())) << mode;
  }
}

TEST_F(CollectnowRun, CommandLineErrorsShowTheUsage) {
  const std::string usage = "usage: collectnow [-f|-i][-v][-s] -p process-id \n";
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, usage},
      {{"-x", "-p", "1234"}, "collectnow: illegal option -- x\n" + usage},
      {{"-p", "12", "-p", "13"}, usage},
      {{"-p", "0"}, "0: Not owner\n"},
  };
  for (const auto &c : cases) {
    TkResult r = run(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CollectnowRun, ConfirmationPrompt) {
  const std::string prompt = "Force VM to execute GC: ? (y/n) ";
  struct {
    const char *input;
    int code;
  } cases[] = {{"y\n", 0}, {"Y", 0}, {"n\n", 1}, {"", 1}, {"yes", 0}, {"x", 1}};
  for (const auto &c : cases) {
    TkPeer p;
    if (c.code == 0) {
      ASSERT_TRUE(tk_start_peer(&p, s, pid, "answer"));
    }
    TkResult r = run({"-p", pidText()}, c.input);
    tk_stop_peer(&p);
    EXPECT_EQ(r.code, c.code) << c.input;
    EXPECT_EQ(r.err, prompt) << c.input;
    EXPECT_FALSE(tk_exists(req())) << c.input;
  }
}

TEST_F(CollectnowRun, InterruptionWhileWaitingRemovesWorkFiles) {
  if (!pl_child_can_interrupt())
    GTEST_SKIP() << "console events cannot be sent to a child here";
  ASSERT_TRUE(tk_start_peer(&peer, s, pid, "never"));
  TkRun run;
  ASSERT_TRUE(tk_start(&run, s, {tk_bin("collectnow"), "-f", "-t", "100", "-p", pidText()}, "",
                       s.temp_env()));
  ASSERT_TRUE(tk_wait_file(req(), 20000));
  // A lock someone holds at that moment goes too.
  ASSERT_TRUE(tk_write(lock(), ""));
  ASSERT_EQ(pl_child_interrupt(run.child), 0);
  TkResult r = tk_finish(&run, 20000);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(tk_exists(req()));
  EXPECT_FALSE(tk_exists(lock()));
}
}
