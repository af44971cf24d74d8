// memsnap: option tables, and whole series against the JVM peer, which
// writes dumps while the heap dump mode file asks for them.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "memsnap.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "reqchannel.h"
#include "testkit.h"

namespace {

const char kShortUsage[] = "usage: memsnap [-name][-dir][-start][-stop] -p process-id \n";

struct Parsed {
  int rc;
  std::string msgs;
  MsSettings s;
};
Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "memsnap");
  std::vector<char *> argv = tk_argv(args);
  Parsed p;
  p.s.msgs = &p.msgs;
  RcOptions o;
  p.rc = rc_parse_options(&rc_profiles[RC_MEMSNAP], static_cast<int>(args.size()), argv.data(), ms_tool_option, &p.s,
                          &o, &p.msgs);
  return p;
}

TEST(MemsnapOptions, ValuesAndTheirErrors) {
  struct {
    std::vector<std::string> args;
    int rc;
    std::string msgs;
    int level, max;
  } cases[] = {
      {{"-lv", "3", "-heapaudit", "auto", "-p", "1"}, -1, "", 4, 2},
      {{"-stop", "-lv", "1", "-p", "1"}, -1, "", 1, 2},
      {{"-lv", "1", "-stop", "-p", "1"}, -1, "", 4, 2},
      {{"-lv", "5", "-p", "1"}, -1, "memsnap: heapdump level is out of range\n", -1, 2},
      {{"-lv", "0", "-p", "1"}, -1, "memsnap: heapdump level is out of range\n", -1, 2},
      {{"-lv"}, 1, std::string("memsnap: dump level must be digit.\n") + kShortUsage, 1, 2},
      {{"-n", "40", "-p", "1"}, -1, "", 1, 40},
      {{"-n", "x", "-p", "1"}, -1, "memsnap: maximum number of heapdump isn't digit\n", 1, -1},
      {{"-n", "-p", "1"}, -1, "memsnap: maximum number of heapdump isn't digit\n", 1, -1},
      {{"-n", "", "-p", "1"}, -1, "", 1, 0},
      {{"-p", "1", "-n"}, 1, std::string("memsnap: -n option needs integer number\n") + kShortUsage, 1, 2},
      {{"-it", "x", "-p", "1"}, 1, std::string("memsnap: interval isn't digit\n") + kShortUsage, 1, 2},
      {{"-dir", "-p", "1"}, 1, std::string("memsnap: -dir option needs string argument\n") + kShortUsage, 1, 2},
      {{"-name"}, 1, std::string("memsnap: -name option needs string argument\n") + kShortUsage, 1, 2},
      {{"-heapaudit", "most", "-p", "1"}, 1, std::string("memsnap: unexpected leak detection type\n") + kShortUsage, 1,
       2},
      {{"-zz", "-p", "1"}, 1, kShortUsage, 1, 2},
      {{"-dir", std::string(300, 'd'), "-p", "1"},
       1, std::string("memsnap: -dir value is too long (259 characters at most)\n") + kShortUsage, 1, 2},
      {{"-start"}, 1, kShortUsage, 3, 2},
      {{}, 1, kShortUsage, 1, 2},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(tk_args_text(c.args));
    Parsed p = parse(c.args);
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_EQ(p.msgs, c.msgs);
    EXPECT_EQ(p.s.level, c.level);
    EXPECT_EQ(p.s.max, c.max);
  }
}

TEST(MemsnapOptions, CombinationChecks) {
  struct {
    std::vector<std::string> args;
    bool ok;
    std::string msgs;
    int level, max;
  } cases[] = {
      {{"-heapaudit", "auto", "-lv", "3", "-p", "1"}, false, "Dump level must be 1 or 4 for memory leak detection\n", 3, 2},
      {{"-lv", "2", "-p", "1"}, true, "", 1, 2},
      {{"-n", "40", "-p", "1"}, true, "memsnap: maximum number of heapdump(40) > 31. set 31.\n", 1, 31},
      {{"-start", "-stop", "-p", "1"}, false,
       "-start and -stop options must be used exclusively.\n"
       "-start option is specified, but dump level isnot summary dump type\n",
       4, 2},
      {{"-start", "-removedump", "-p", "1"}, false, "-start and -removedump can't be specified.\n", 3, 2},
      {{"-remaindump", "-removedump", "-p", "1"}, false, "-remaindump and -removedump can't be specified.\n", 1, 2},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Parsed p = parse(c.args);
    ASSERT_EQ(p.rc, -1) << p.msgs;
    std::string msgs;
    EXPECT_EQ(ms_check_combination(&p.s, &msgs), c.ok);
    EXPECT_EQ(msgs, c.msgs);
    EXPECT_EQ(p.s.level, c.level);
    EXPECT_EQ(p.s.max, c.max);
  }
  EXPECT_EQ(ms_invalid_characters("a/b*c"), "'/','*'");
  EXPECT_EQ(ms_invalid_characters("x:?"), "':','?'");
  EXPECT_EQ(ms_invalid_characters("heapdump"), "");
}

// A series in a scratch temporary directory, run from there (the result
// file is written to the current directory), with heapaudit on PATH.
struct Series : ::testing::Test {
  TkScratch s;
  unsigned long pid = tk_fake_pid();
  TkPeer peer;
  std::vector<std::string> env;
  char cwd[1024] = "";

  void SetUp() override {
    pl_getcwd(cwd, sizeof cwd);
    ASSERT_EQ(pl_chdir(s.dir.c_str()), 0);
    env = s.temp_env();
    std::string bin = tk_bin("heapaudit");
    bin = bin.substr(0, bin.rfind(pl_path_sep));
    char path[8192] = "";
    pl_getenv("PATH", path, sizeof path);
    env.push_back("PATH=" + bin + pl_path_list_sep + path);
  }
  void TearDown() override {
    tk_stop_peer(&peer);
    pl_chdir(cwd);
  }
  void startPeer(const char *mode = "answer") { ASSERT_TRUE(tk_start_peer(&peer, s, pid, mode, 0, 100)); }
  TkResult run(std::vector<std::string> args) {
    args.insert(args.begin(), tk_bin("memsnap"));
    args.push_back("-f");
    args.push_back("-p");
    args.push_back(std::to_string(pid));
    return tk_run(s, args, "", env, 120000);
  }
  std::string sep() const { return std::string(1, pl_path_sep); }
  std::string modeFile() const { return s.dir_sep() + sep() + ".heapdump_mode." + std::to_string(pid); }
  std::string base() const { return s.dir_sep() + sep() + "heapdump"; }
  std::string dump(int n) const { return base() + "." + std::to_string(n) + ".bin"; }
};

TEST_F(Series, StartThenStopEndsInALeakReport) {
  startPeer();
  TkResult r = run({"-start"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "JavaVM process     : " + std::to_string(pid) +
                       "\nHeapdump level     : 3 ... summary only\n"
                       "Heapdump mode      : manual dump\n"
                       "Heapdump number    : 1/2\n"
                       "Output dir/name    : " + base() +
                       "\n... new heapdump mode file is created.\n\n"
                       "... heap dump done (Num: 1 / 2)\n");
  // The mode file: flag, count, owner, level, interval, maximum, length,
  // name and its zero byte.
  std::string m = tk_read(modeFile());
  ASSERT_EQ(m.size(), 26 + base().size());
  auto at = [&m](size_t i) {
    return static_cast<int>(static_cast<unsigned char>(m[i]) | static_cast<unsigned char>(m[i + 1]) << 8 |
                            static_cast<unsigned char>(m[i + 2]) << 16 | static_cast<unsigned char>(m[i + 3]) << 24);
  };
  EXPECT_EQ(m[0], 0);
  EXPECT_EQ(at(1), 1) << "the JVM counted its dump";
  EXPECT_GT(at(5), 0);
  EXPECT_EQ(at(9), 3);
  EXPECT_EQ(at(13), 0);
  EXPECT_EQ(at(17), 2);
  EXPECT_EQ(at(21), static_cast<int>(base().size()));
  EXPECT_EQ(m.substr(25), base() + std::string(1, '\0'));
  EXPECT_TRUE(tk_exists(dump(1)));

  r = run({"-start"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "-start option can be specified only at first.\n");

  r = run({"-stop"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("... heap dump done (Num: 2 / 2)\n\n*** Stop heapdump mode operation ***\nJavaVM " +
                       std::to_string(pid) + " is normal mode\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("command:  heapaudit -detectk auto -o ." + sep() + "heapdump.leak.txt -detail -datanum 2 " +
                       dump(1) + " " + dump(2) + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Removed dumpfile: "), std::string::npos);
  EXPECT_FALSE(tk_exists(modeFile()));
  EXPECT_FALSE(tk_exists(dump(1)));
  EXPECT_FALSE(tk_exists(dump(2)));
  std::string report = tk_read_text(s.path("heapdump.leak.txt"));
  EXPECT_NE(report.find("# Memory leak detect kind: TOTAL #"), std::string::npos) << report;
  EXPECT_NE(report.find("(I) synthetic.Class0"), std::string::npos) << report;
}

TEST_F(Series, StopOutsideASeriesTakesOneDump) {
  startPeer();
  TkResult r = run({"-stop"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("Two dump files are needed at least for memory leak detection.\n"), std::string::npos) << r.err;
  EXPECT_FALSE(tk_exists(dump(1)));
  EXPECT_FALSE(tk_exists(modeFile()));
}

TEST_F(Series, ManualRunsWithDiffKeepTheirDumps) {
  startPeer();
  TkResult r = run({"-heapaudit", "diff"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("Two dump files are needed"), std::string::npos);
  r = run({"-heapaudit", "diff"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("-detectk diff"), std::string::npos) << r.err;
  EXPECT_FALSE(tk_exists(modeFile())) << "the maximum of 2 ends the series";
  EXPECT_TRUE(tk_exists(dump(1)));
  EXPECT_TRUE(tk_exists(dump(2)));
  EXPECT_NE(tk_read_text(s.path("heapdump.leak.txt")).find("DIFF"), std::string::npos);
}

TEST_F(Series, RemaindumpKeepsTheDumpsAndANextDumpMayNotExist) {
  startPeer();
  ASSERT_EQ(run({"-start"}).code, 0);
  // A dump file of the next number already there refuses the run.
  ASSERT_TRUE(tk_write(dump(2), "x"));
  TkResult r = run({"-stop"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Heap dump file " + dump(2) + " is already existed\n");
  EXPECT_FALSE(tk_exists(modeFile())) << "the error path ends the series";
  ASSERT_EQ(pl_file_delete(dump(2).c_str()), 0);
  ASSERT_EQ(pl_file_delete(dump(1).c_str()), 0);

  ASSERT_EQ(run({"-start"}).code, 0);
  r = run({"-stop", "-remaindump"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.find("Removed dumpfile"), std::string::npos);
  EXPECT_TRUE(tk_exists(dump(1)));
  EXPECT_TRUE(tk_exists(dump(2)));
}

TEST_F(Series, StatusStopAndRemoval) {
  startPeer();
  TkResult r = run({"-status"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "\n*** JavaVM Heapdump Status ***\nJavaVM " + std::to_string(pid) + " isn't heapdump mode\n");
  r = run({"-removedump"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Cannot remove dumpfiles (JavaVM(PID=" + std::to_string(pid) + ") isnot heapdump mode).\n");
  r = run({"-dstop"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "\n*** Stop heapdump mode operation ***\nJavaVM " + std::to_string(pid) + " is normal mode\n");

  ASSERT_EQ(run({"-start"}).code, 0);
  r = run({"-status"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.err.find("Heapdump level     : 3\nHeapdump interval  : 0\nHeapdump number    : 1 / 2\nOutput dir/name    : " +
                       base() + "\n"),
            std::string::npos)
      << r.err;
  r = run({"-removedump"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("Removed dumpfile: "), std::string::npos);
  EXPECT_FALSE(tk_exists(dump(1)));
  EXPECT_FALSE(tk_exists(modeFile())) << "the peer ends the mode on the stop marker";
}

TEST_F(Series, AnIntervalRunTakesTheWholeSeries) {
  startPeer();
  TkResult r = run({"-it", "1", "-n", "3", "-nodetect"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("Heapdump mode      : interval dump (1)\nHeapdump number    : 3\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("done (Num: 1 / 3, Elapsed time: 0)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("done (Num: 2 / 3, Elapsed time: 1)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("... heap dump done (Num: 3 / 3)\n"), std::string::npos) << r.err;
  EXPECT_FALSE(tk_exists(modeFile()));
}

TEST_F(Series, NameChecksAndBadModeFiles) {
  startPeer();
  TkResult r = run({"-name", "x:?"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "filename \"x:?\" contains invalid character. [':','?']\n");
  ASSERT_TRUE(tk_write(s.path("heapdump.txt"), "x"));
  r = run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "heapdump.* has already been existed in " + s.dir_sep() + " probably...\n");
  ASSERT_EQ(pl_file_delete(s.path("heapdump.txt").c_str()), 0);
  ASSERT_EQ(pl_dir_create(s.path("heapdump.old").c_str()), 0);
  EXPECT_FALSE(tk_exists(modeFile()));

  // A mode file whose name length reads 300.
  std::string m(25, '\0');
  m[21] = static_cast<char>(300 & 0xff);
  m[22] = static_cast<char>(300 >> 8);
  ASSERT_TRUE(tk_write(modeFile(), m + std::string(301, 'a')));
  r = run({});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "read string length is too long\n");
  pl_file_delete(modeFile().c_str());

  // Dump names too long for the analyzer's command line.
  std::string deep = s.path(std::string(120, 'd'));
  ASSERT_EQ(pl_dir_create(deep.c_str()), 0);
  ASSERT_EQ(run({"-dir", deep}).code, 0);
  r = run({"-dir", deep, "-stop"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("add_option_string: out of dest length\n"), std::string::npos) << r.err;
}

TEST_F(Series, AJvmThatWritesNoDumpEndsTheSeries) {
  startPeer("nodump");
  TkResult r = run({"-start"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("memsnap: no heapdump is output...\n"), std::string::npos) << r.err;
  EXPECT_FALSE(tk_exists(modeFile()));
}

TEST_F(Series, ATimeOutCleansUp) {
  startPeer("never");
  TkResult r = run({"-start", "-t", "100"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(std::to_string(pid) + ": Timeout occurred. Java process not responding.\n"), std::string::npos)
      << r.err;
  EXPECT_FALSE(tk_exists(modeFile()));
}

} // namespace
