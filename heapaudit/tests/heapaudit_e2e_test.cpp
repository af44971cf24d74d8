// heapaudit end to end: command lines, messages, exit statuses and the
// printed tables, over dumps written by the dump writer.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "heapdump.h"
#include "testkit.h"

namespace {

const char kUsage[] =
    "Usage:   heapaudit <options> <dataname>...\n"
    "options:\n"
    "opt.: -help      / env.: MEMLEAK_HELP          :: display help message.\n"
    "opt.: -silence   / env.: MEMLEAK_SILENCE       :: specify silence level (smaller, more quiet).\n"
    "opt.: -o         / env.: MEMLEAK_OUTPUT        :: result output filename\n"
    "opt.: -detectk   / env.: MEMLEAK_DETECTK       :: detection method of memory leak.(auto/class/instance)\n"
    "opt.: -detail    / env.: MEMLEAK_OUTPUT_DETAIL :: output leak detection result in detail.\n"
    "opt.: -datanum   / env.: MEMLEAK_DATANUM       :: the number of input data.\n"
    "opt.: -onlyclass / env.: MEMLEAK_ONLYCLASS     :: check objects in permanent region.\n"
    "opt.: -toi       / env.: MEMLEAK_TOI           :: output total of instance.\n"
    "opt.: -ct        / env.: MEMLEAK_CALLTRACE     :: output calltrace information.\n"
    "opt.: -check     / env.: MEMLEAK_CHECK         :: check dump data validity (for memsnap porting).\n"
    "opt.: -verbose   / env.: MEMLEAK_VERBOSE       :: (for debug information output)\n"
    "\n";

// exit(-1) and an abnormal end, as this platform reports them.
bool failed(int code) { return code == 255 || code == -1; }
bool abnormal(int code) { return code == 134 || code == 3; }

const char kSmall[] = "header bits=32 version=2 time=2009-04-20T01:20:29 mode=2 num=1 perm=0x100-0x1000\n"
                      "age 1\n"
                      "name id=0x10 text=java/util/HashMap\nname id=0x11 text=LX;\nname id=0x12 text=next\n"
                      "name id=0x13 text=Node\n"
                      "class id=0x200 name=0x10 isize=4 fields=0x11:0x12\n"
                      "class age=2 id=0x210 name=0x13 isize=6 fields=0x11:0x12,0x11:0x12\n"
                      "instance age=1 id=0x1000 class=0x200 values=0x1010\n"
                      "instance age=1 id=0x1010 class=0x210 values=0x1020,0x1000\n"
                      "instance age=1 id=0x1020 class=0x210 values=0x1010,0\n"
                      "root kind=jni_global obj=0x1000 other=0x55\n"
                      "sizes list=0x200:1:4,0x210:2:12\n"
                      "method id=0x700 class=0x200 name=0x12\n"
                      "trace env=0x800 frames=10:0x700,20:0x701\n"
                      "trace env=0x808\n";

struct HeapAudit : ::testing::Test {
  TkScratch s;
  std::string dump(const std::string &name, const std::string &text) {
    HdWriter w;
    std::string err;
    EXPECT_TRUE(hd_from_text(text, &w, &err)) << err;
    std::string path = s.path(name);
    EXPECT_TRUE(hd_save(w, path));
    return path;
  }
  TkResult run(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    std::vector<std::string> argv = {tk_bin("heapaudit")};
    argv.insert(argv.end(), args.begin(), args.end());
    return tk_run(s, argv, "", env);
  }
};

TEST_F(HeapAudit, CommandLines) {
  std::string d = dump("d1", kSmall);
  TkResult r = run({});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, kUsage);
  r = run({"-help", d});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, kUsage);
  r = run({"-verbose"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "No input data names\n");
  r = run({d, "-datanum", "2"});
  EXPECT_TRUE(failed(r.code)) << r.code;
  EXPECT_EQ(r.err, kUsage) << "no option after a data name";
  r = run({"-o"});
  EXPECT_TRUE(abnormal(r.code)) << r.code;
  EXPECT_EQ(r.err, kUsage);
  r = run({"-datanum", "0", d});
  EXPECT_TRUE(failed(r.code));
  EXPECT_EQ(r.err, "The number of input data (-datanum 0) must be 1 or more.\n");
  r = run({"-datanum", "2", d});
  EXPECT_TRUE(failed(r.code));
  EXPECT_EQ(r.err, "Cannot open file (no data name) ..\n");
  r = run({s.path("missing")});
  EXPECT_TRUE(failed(r.code));
  EXPECT_EQ(r.err, "Cannot open file " + s.path("missing") + " ..\n");
  // Extra names beyond -datanum are left alone; -detectk instance selects
  // nothing, so no detection runs.
  r = run({"-detectk", "instance", d, s.path("missing")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(HeapAudit, SilenceLevelsFromEnvironmentAndCommandLine) {
  std::string d = dump("d1", kSmall);
  TkResult r = run({d}, {"MEMLEAK_SILENCE=1"});
  EXPECT_EQ(r.err.rfind("This host is little-endian.\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("Dump time : 2009/04/20 01:20:29\n"), std::string::npos);
  r = run({"-silence", "1", d});
  EXPECT_EQ(r.err.find("This host is"), std::string::npos) << "the command line comes after the message";
  EXPECT_NE(r.err.find("Data type : 32bit\nFormat ver: 2\nData level: 0\n"), std::string::npos) << r.err;
  r = run({"-verbose", d});
  EXPECT_EQ(r.err.rfind("[Heapauditor [data read (dummy) ", 0), 0u) << "timers only: " << r.err;
}

TEST_F(HeapAudit, BadFilesEndTheRun) {
  const std::string h = "header\n";
  struct {
    const char *name;
    std::string text, err;
    bool abort;
  } cases[] = {
      {"cut", h + "raw bytes=0x21,1,0,0\n", "the record (tag 0x21) at offset 28 is cut short by the end of the file\n", false},
      {"count", h + "raw bytes=0x22,1,0,0,0,1,0,0,0,2,0x7f,0xff,0xff,0xff\n",
       "the record (tag 0x22) at offset 28 holds a count (2147483647) that runs past the end of the file\n", false},
      {"unknown", h + "raw bytes=0xff\n", "found ZENTRAK_ROOT_UNKNOWN dump\n", false},
      {"tag", h + "raw bytes=0x99\n", "Unexpected kind\n", true},
      {"header", "header\nraw bytes=0\n", "", false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string d = dump(c.name, c.text);
    TkResult r = run({d});
    if (std::string(c.name) == "header") {
      // A file cut inside its header is cut short too.
      std::string cut = s.path("short");
      tk_write(cut, std::string("\x00\x02\x00", 3));
      r = run({cut});
      EXPECT_TRUE(failed(r.code));
      EXPECT_NE(r.err.find("is cut short"), std::string::npos) << r.err;
      continue;
    }
    if (c.abort)
      EXPECT_TRUE(abnormal(r.code)) << r.code;
    else
      EXPECT_TRUE(failed(r.code)) << r.code;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

TEST_F(HeapAudit, OrderModeCountAndDataLevel) {
  std::string a = dump("a", "header mode=2 time=2009-04-20T01:20:29\n");
  std::string b = dump("b", "header mode=3 time=2009-04-20T01:20:29\n");
  TkResult r = run({"-datanum", "2", a, b});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "Data reading order must be from old to new...\n"
                   "[Warning] Dump_mode_count of this data is different from a count of other data\n");
  std::string summary = dump("s", "header level=3 time=2009-04-20T01:20:30\n");
  std::string full = dump("f", "header time=2009-04-20T01:20:31\n");
  std::string older = dump("o", "header time=2009-04-20T01:20:29\n");
  r = run({"-datanum", "2", "-detectk", "total", older, summary});
  EXPECT_TRUE(failed(r.code));
  EXPECT_EQ(r.err, "final dump data must be full type dump for memory leak detection.\n");
  r = run({"-datanum", "2", "-detectk", "total", summary, full});
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(HeapAudit, TablesAndReports) {
  std::string d = dump("d1", kSmall);
  std::string out = s.path("result.txt");
  ASSERT_TRUE(tk_write(out, "earlier results\n"));
  TkResult r = run({"-toi", "-ct", "-o", out, d});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(tk_read_text(out), "earlier results\n"
                               "\n****** CallTrace Information (1) ******\n"
                               "\n--------------------------------\n"
                               "JNIEnv *:00000800  Num Frames:2\n"
                               "  [ 0] method id:00000700 lineno:10 (Method:next Class:java/util/HashMap)\n"
                               "  [ 1] method id:00000701 lineno:20 (Method:(null) Class:(null))\n"
                               "--------------------------------\n"
                               "\n--------------------------------\n"
                               "JNIEnv *:00000808  Num Frames:0\n"
                               "--------------------------------\n"
                               "****************** Class size info ****************\n"
                               "         Count word/obj Total wd Typ Class\n"
                               "---------------------------------------------------\n"
                               "[  1]        1      150      150 (C) Node\n"
                               "INVALID age (2)\n"
                               "[  2]        1      150      150 (C) java/util/HashMap\n"
                               "[  3]        2        6       12 (I) Node\n"
                               "INVALID age (2)\n"
                               "[  4]        1        4        4 (I) java/util/HashMap\n"
                               "Used heap size:     0.00 MBytes (5 objects)\n");
}

TEST_F(HeapAudit, VersionOneCountsWhatTheRootsReach) {
  // Two loaders' classes of one name share their rows; an unreachable
  // instance is not counted.
  std::string d = dump("v1", "header version=1\nage 3\n"
                             "name id=0x10 text=A\n"
                             "class age=3 id=0x200 name=0x10 isize=16\n"
                             "class age=1 id=0x208 name=0x10 isize=16\n"
                             "instance id=0x1000 class=0x200 values=0x1008\n"
                             "instance id=0x1008 class=0x208\n"
                             "instance id=0x1010 class=0x200\n"
                             "root kind=java_frame obj=0x1000 other=1 frame=2\n");
  TkResult r = run({"-toi", d});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "****************** Class size info ****************\n"
                   "         Count word/obj Total wd Typ Class\n"
                   "---------------------------------------------------\n"
                   "[  1]        2      150      300 (C) A\n"
                   "[  2]        2        4        8 (I) A\n"
                   "Used heap size:     0.00 MBytes (4 objects)\n");
}

TEST_F(HeapAudit, CheckModeValidatesComponents) {
  std::string d = dump("c", std::string(kSmall));
  TkResult r = run({"-check", "-silence", "1", d});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("==> Cycle object reference detection\n..... done\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nData check is completed.\n"), std::string::npos);
  EXPECT_NE(r.out.find("CallTrace Information"), std::string::npos) << "-check switches on -ct and -toi";
  EXPECT_NE(r.out.find("Class size info"), std::string::npos);
}

} // namespace

namespace {

std::string series(int second, int words) {
  return "header time=2009-04-20T01:20:" + std::to_string(second) +
         "\nname id=0x10 text=G\nclass id=0x200 name=0x10 isize=2\nsizes list=0x200:1:" + std::to_string(words) +
         "\n";
}

TEST_F(HeapAudit, DetectionNeedsTwoDumpsAndReportsWhatGrows) {
  std::string out = s.path("r.txt");
  std::string one = dump("one", series(10, 100));
  TkResult r = run({"-detectk", "auto", "-o", out, one});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "For memory leak detection, more than 2 data are needed at least (7)\n");
  EXPECT_EQ(tk_read_text(out), "");

  std::string a = dump("a", series(10, 100)), b = dump("b", series(11, 100));
  r = run({"-detectk", "total", "-datanum", "2", a, b});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "No memory leak in all java heap\n\n");
  r = run({"-detectk", "total", "-onlyclass", "-datanum", "2", a, b});
  EXPECT_EQ(r.out, "No memory leak in permanent heap\n\n");

  std::string c = dump("c", series(12, 160));
  r = run({"-detectk", "diff", "-datanum", "2", a, c});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("**** Difference among all dumpdata ****\n"
                        "          Size   Weight Typ Class\n"
                        "[  1]       60        1 (I) G\n\n",
                        0),
            0u)
      << r.out;
}

} // namespace
