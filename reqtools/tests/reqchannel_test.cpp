#include "reqchannel.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "collectnow.h"
#include "platform/file.h"
#include "testkit.h"

namespace {

struct ParseCase {
  std::vector<const char *> args;
  int rc; // -1: the run goes on
  std::string msgs;
  unsigned long pid = 0;
  long limit = 0;
  bool force = false, verbose = false, s_line = false;
};

const std::string kUsage = "usage: collectnow [-f|-i][-v][-s] -p process-id \n";

TEST(CollectnowOptions, TableOfCommandLines) {
  const ParseCase cases[] = {
      {{}, 1, kUsage, 0, 200, false, false, false},
      {{"-p", "1234"}, -1, "", 1234, 200, false, false, false},
      {{"-f", "-p", "00012", "-t", "0"}, -1, "", 12, 0, true, false, false},
      {{"-f", "-i", "-p", "5"}, -1, "", 5, 200, false, false, false},
      {{"-i", "-f", "-p", "5"}, -1, "", 5, 200, true, false, false},
      {{"-s", "-v", "-p", "1"}, -1, "", 1, 200, false, true, true},
      {{"stray", "-p", "3", "other"}, -1, "", 3, 200, false, false, false},
      {{"-t", "7", "-t", "9", "-p", "3"}, -1, "", 3, 9, false, false, false},
      {{"-p", "2147483647"}, -1, "", 2147483647UL, 200, false, false, false},
      {{"-x", "-p", "1234"}, 1, "collectnow: illegal option -- x\n" + kUsage},
      {{"-x", "-yy", "-p", "1"}, 1,
       "collectnow: illegal option -- x\ncollectnow: illegal option -- yy\n" + kUsage},
      {{"-P", "1"}, 1, "collectnow: illegal option -- P\n" + kUsage},
      {{"-", "-p", "1"}, 1, "collectnow: illegal option -- \n" + kUsage},
      {{"-p", "0"}, 1, "0: Not owner\n"},
      {{"-p", "000"}, 1, "0: Not owner\n"},
      {{"-p", ""}, 1, "0: Not owner\n"},
      {{"-p", "12", "-p", "13"}, 1, kUsage},
      {{"-p", "12a"}, 1, kUsage},
      {{"-p", "2147483648"}, 1, kUsage},
      {{"-p", "99999999999999999999999"}, 1, kUsage},
      {{"-t", "2147483648", "-p", "1"}, 1, kUsage},
      {{"-t", "abc", "-p", "1"}, 1, kUsage},
      {{"-p"}, 1, kUsage},
      {{"-p", "-f"}, 1, kUsage},
      // The value is not taken, so it is met again as an option.
      {{"-p", "-5"}, 1, "collectnow: illegal option -- 5\n" + kUsage},
      {{"-t", "5"}, 1, kUsage},
      {{"-f", "-v"}, 1, kUsage},
  };
  for (const ParseCase &c : cases) {
    std::vector<char *> argv = {const_cast<char *>("collectnow")};
    std::string line;
    for (const char *a : c.args) {
      argv.push_back(const_cast<char *>(a));
      line += std::string(" ") + a;
    }
    CnSettings s = {false, false};
    RcOptions o;
    std::string msgs;
    int rc = rc_parse_options(&rc_profiles[RC_COLLECTNOW], static_cast<int>(argv.size()),
                              argv.data(), cn_tool_option, &s, &o, &msgs);
    SCOPED_TRACE("collectnow" + line);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(msgs, c.msgs);
    if (c.rc == -1) {
      EXPECT_EQ(o.pid, c.pid);
      EXPECT_EQ(o.limit, c.limit);
      EXPECT_EQ(o.force, c.force);
      EXPECT_EQ(s.verbose, c.verbose);
      EXPECT_EQ(s.s_line, c.s_line);
    }
  }
}

TEST(CollectnowOptions, RequestLinesKeepTheirOrder) {
  EXPECT_EQ(cn_request_lines({true, true}), (std::vector<std::string>{"-v\n", "-s\n"}));
  EXPECT_EQ(cn_request_lines({false, true}), (std::vector<std::string>{"-s\n"}));
  EXPECT_TRUE(cn_request_lines({false, false}).empty());
}

// A channel in a scratch folder, with a clock that only counts.
struct ChannelFixture : ::testing::Test {
  static int sleeps;
  static unsigned slept_ms;
  static void (*on_sleep)(int n);
  static void fake_sleep(unsigned ms) {
    ++sleeps;
    slept_ms += ms;
    if (on_sleep)
      on_sleep(sleeps);
  }

  TkScratch s;
  RcChannel ch;
  std::string errPath;
  static ChannelFixture *current;

  void SetUp() override {
    sleeps = 0;
    slept_ms = 0;
    on_sleep = nullptr;
    current = this;
    rc_init(&ch, &rc_profiles[RC_COLLECTNOW], 4321);
    std::string dir = s.dir_sep();
    snprintf(ch.tmpdir, sizeof ch.tmpdir, "%s", dir.c_str());
    ASSERT_TRUE(rc_build_name(ch.lock_path, ch.tmpdir, ch.prof->lock_base, ch.pid));
    ASSERT_TRUE(rc_build_name(ch.req_path, ch.tmpdir, ch.prof->req_base, ch.pid));
    errPath = s.path("stderr");
    ch.err = pl_file_open(errPath.c_str(), "w", 0, nullptr);
    ASSERT_NE(ch.err, nullptr);
    ch.sleep_ms = fake_sleep;
  }
  void TearDown() override { fclose(ch.err); }
  std::string messages() {
    fflush(ch.err);
    return tk_read_text(errPath);
  }
};
int ChannelFixture::sleeps;
unsigned ChannelFixture::slept_ms;
void (*ChannelFixture::on_sleep)(int);
ChannelFixture *ChannelFixture::current;

TEST_F(ChannelFixture, NamesHoldTheDoubledSeparator) {
  std::string expect = s.dir_sep() + pl_path_sep + ".collectnow_req_4321";
  EXPECT_EQ(ch.req_path, expect);
  char buf[RC_PATH_MAX];
  std::string longDir(250, 'd');
  EXPECT_FALSE(rc_build_name(buf, longDir.c_str(), ".collectnow_req_", 4294967295UL));
  EXPECT_STREQ(buf, "");
}

TEST_F(ChannelFixture, CheckReplyReadsOnlyTheFirstCharacter) {
  struct {
    const char *content; // null: no request file
    int code;
  } cases[] = {
      {nullptr, RC_REPLY_NO_FILE}, {"", RC_REPLY_EMPTY},       {"0\n", RC_REPLY_ANSWERED},
      {"05", RC_REPLY_ANSWERED},   {"1\n123 456\n", RC_REPLY_PENDING}, {" 0\n", RC_REPLY_PENDING},
  };
  for (const auto &c : cases) {
    pl_file_delete(ch.req_path);
    if (c.content) {
      ASSERT_TRUE(tk_write(ch.req_path, c.content));
    }
    EXPECT_EQ(rc_check_reply(&ch), c.code) << (c.content ? c.content : "(none)");
    EXPECT_FALSE(tk_exists(ch.lock_path)) << "lock released";
  }
}

TEST_F(ChannelFixture, CheckReplyWithTheLockBusyLeavesItAlone) {
  ASSERT_TRUE(tk_write(ch.req_path, "0\n"));
  ASSERT_TRUE(tk_write(ch.lock_path, ""));
  EXPECT_EQ(rc_check_reply(&ch), RC_REPLY_PENDING);
  EXPECT_TRUE(tk_exists(ch.lock_path));
}

TEST_F(ChannelFixture, DefaultLimitGivesSixtySevenChecks) {
  ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
  EXPECT_EQ(rc_wait_for_reply(&ch, 200), RC_WAIT_TIMEOUT);
  EXPECT_EQ(sleeps, 67);
  EXPECT_EQ(slept_ms, 67u * 3000u);
}

TEST_F(ChannelFixture, MemsnapFiveSecondsChecksThreeTimes) {
  ch.prof = &rc_profiles[RC_MEMSNAP];
  ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
  EXPECT_EQ(rc_wait_for_reply(&ch, 5000), RC_WAIT_TIMEOUT);
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(rc_wait_for_reply(&ch, -1), RC_WAIT_TIMEOUT);
  EXPECT_EQ(sleeps, 3) << "a negative limit times out at once";
}

TEST_F(ChannelFixture, AnswerOnTheFifthCheckEndsTheWait) {
  ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
  on_sleep = [](int n) {
    if (n == 5)
      tk_write(current->ch.req_path, "0\n");
  };
  EXPECT_EQ(rc_wait_for_reply(&ch, 200), RC_WAIT_ANSWERED);
  EXPECT_EQ(sleeps, 5);
}

TEST_F(ChannelFixture, WithALimitAVanishedFileIsAnError) {
  ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
  on_sleep = [](int n) {
    if (n == 2)
      pl_file_delete(current->ch.req_path);
  };
  EXPECT_EQ(rc_wait_for_reply(&ch, 200), RC_WAIT_VANISHED);
  EXPECT_EQ(messages(), "collectnow: unexpected error occurred: fopen() (errno=2)\n");
}

TEST_F(ChannelFixture, MemsnapKeepsWaitingWhenTheFileVanishes) {
  ch.prof = &rc_profiles[RC_MEMSNAP];
  ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
  on_sleep = [](int n) {
    if (n == 1)
      pl_file_delete(current->ch.req_path);
  };
  EXPECT_EQ(rc_wait_for_reply(&ch, 6000), RC_WAIT_TIMEOUT);
  EXPECT_EQ(sleeps, 3);
}

TEST_F(ChannelFixture, WithoutALimitEmptyOrDeletedCountsAsAnswered) {
  for (int mode = 0; mode < 2; ++mode) {
    sleeps = 0;
    ASSERT_TRUE(tk_write(ch.req_path, "1\n"));
    if (mode == 0)
      on_sleep = [](int n) {
        if (n == 3)
          tk_write(current->ch.req_path, "");
      };
    else
      on_sleep = [](int n) {
        if (n == 3)
          pl_file_delete(current->ch.req_path);
      };
    EXPECT_EQ(rc_wait_for_reply(&ch, 0), RC_WAIT_ANSWERED) << mode;
    EXPECT_EQ(sleeps, 3);
  }
}

TEST_F(ChannelFixture, TimeoutRetriesThreeTimesThenAsksTheUser) {
  // A directory in the file's place cannot be deleted as a file.
  ASSERT_EQ(pl_dir_create(ch.req_path), 0);
  EXPECT_EQ(rc_finish_timeout(&ch), 2);
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(slept_ms, 3000u);
  std::string name = ".collectnow_req_4321"; // after the directory and its separator
  EXPECT_EQ(messages(), "4321: Timeout occurred. Java process not responding.\n"
                        "collectnow: please delete " + name + " in \"" + s.dir_sep() + "\".\n");
  pl_dir_remove(ch.req_path);
}

TEST_F(ChannelFixture, TimeoutWithTheFileGoneNeedsNoRetry) {
  EXPECT_EQ(rc_finish_timeout(&ch), 2);
  EXPECT_EQ(sleeps, 0);
  EXPECT_EQ(messages(), "4321: Timeout occurred. Java process not responding.\n");
}

TEST_F(ChannelFixture, AnsweredRequestIsDeletedUnderTheLock) {
  ASSERT_TRUE(tk_write(ch.req_path, "0\n"));
  EXPECT_EQ(rc_finish_answered(&ch), -1);
  EXPECT_FALSE(tk_exists(ch.req_path));
  EXPECT_FALSE(tk_exists(ch.lock_path));
  // With the lock busy the answered file stays for a later run.
  ASSERT_TRUE(tk_write(ch.req_path, "0\n"));
  ASSERT_TRUE(tk_write(ch.lock_path, ""));
  EXPECT_EQ(rc_finish_answered(&ch), 1);
  EXPECT_TRUE(tk_exists(ch.req_path));
  EXPECT_EQ(messages(),
            "collectnow: can't create work file at temporary directory, this request canceled\n");
}
}
