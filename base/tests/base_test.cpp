#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "mwa_array.h"
#include "mwa_error.h"
#include "mwa_mutex.h"
#include "mwa_system.h"
#include "platform/clock.h"
#include "platform/procinfo.h"
#include "platform/file.h"
#include "testkit.h"

namespace {

TEST(MwaError, RecordAndStrings) {
  MwaErrorInfo e;
  MwaErrorInfo_set(&e, nullptr, 5);
  EXPECT_STREQ(e.op, "unknown");
  EXPECT_EQ(e.err, 5);
  MwaErrorInfo_set(&e, "fopen", 2);
  EXPECT_STREQ(e.op, "fopen");
  MwaErrorInfo_clear(&e);
  EXPECT_STREQ(e.op, "unknown");
  EXPECT_EQ(e.err, 0);

  char buf[8];
  EXPECT_EQ(mwa_snprintf(buf, sizeof buf, "%s", "abcdefghij"), -1);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(mwa_snprintf(buf, sizeof buf, "%d", 42), 2);
  EXPECT_EQ(mwa_stricmp("Path00", "PATH00"), 0);
  EXPECT_LT(mwa_stricmp("abc", "abd"), 0);
  EXPECT_GT(mwa_stricmp("abc", "AB"), 0);
  EXPECT_EQ(mwa_strnicmp("TOVX-x", "tovx-y", 5), 0);
  EXPECT_NE(mwa_strnicmp("TOVX-x", "tovx-y", 6), 0);
}

TEST(MwaError, ErrorTextFallsBackToNull) {
  char buf[512];
  mwa_errortext(2, buf, sizeof buf);
  EXPECT_STRNE(buf, "(null)") << "a known number has the system's text";
  EXPECT_NE(buf[strlen(buf) - 1], '\n');
  mwa_errortext(0x7ffff123, buf, sizeof buf);
  EXPECT_STREQ(buf, "(null)");
  char one[1] = {'x'};
  mwa_errortext(2, one, 1);
  EXPECT_STREQ(one, "");
  char four[4];
  mwa_errortext(0x7ffff123, four, sizeof four);
  EXPECT_STREQ(four, "(nu");
}

TEST(MwaError, DebugChecksFollowTheEnvironment) {
  TkScratch s;
  struct {
    std::vector<std::string> env;
    int code;
  } cases[] = {{{}, 0}, {{"TALV_AGENT_ENABLE_DEBUG="}, 3}, {{"TALV_AGENT_ENABLE_DEBUG=0"}, 3}};
  for (const auto &c : cases) {
    std::vector<std::string> env = c.env;
    if (env.empty())
      pl_setenv("TALV_AGENT_ENABLE_DEBUG", nullptr);
    TkResult r = tk_run(s, {tk_bin("debug_probe")}, "", env);
    EXPECT_EQ(r.code, c.code) << (env.empty() ? "unset" : env[0]);
    if (c.code == 3) {
      EXPECT_NE(r.err.find("elementSize > 0"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("mwa_array"), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST(MwaArray, CapacityRule) {
  struct {
    int32_t required, capacity;
  } cases[] = {{0, 16},     {1, 16},       {15, 16},           {16, 16},         {17, 32},
               {100, 128},  {1024, 1024},  {1025, 2048},       {1 << 30, 1 << 30}, {(1 << 30) + 1, -1},
               {INT32_MAX, -1}};
  for (const auto &c : cases)
    EXPECT_EQ(MwaArray_capacityFor(c.required), c.capacity) << c.required;
}

TEST(MwaArray, GrowsKeepingElements) {
  MwaArray *a = MwaArray_new(sizeof(int));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(MwaArray_getSize(a), 0);
  EXPECT_EQ(MwaArray_getBuffer(a), nullptr);
  for (int i = 0; i < 17; ++i) {
    ASSERT_EQ(MwaArray_pushBack(a, &i), 1);
    EXPECT_EQ(a->capacity, i < 16 ? 16 : 32);
  }
  int *v = static_cast<int *>(MwaArray_getBuffer(a));
  for (int i = 0; i < 17; ++i)
    EXPECT_EQ(v[i], i);
  EXPECT_EQ(MwaArray_setSize(a, 3), 1);
  EXPECT_EQ(a->capacity, 32);
  EXPECT_EQ(MwaArray_getSize(a), 3);
  // Growth no int32 capacity can hold is refused, the array unchanged.
  EXPECT_EQ(MwaArray_reserve(a, INT32_MAX), 0);
  EXPECT_EQ(MwaArray_setSize(a, INT32_MAX), 0);
  EXPECT_EQ(a->capacity, 32);
  EXPECT_EQ(MwaArray_getSize(a), 3);
  MwaArray_free(a);
}

struct Pair {
  int a, b;
};
MWA_TYPED_ARRAY(PairArray, Pair)

TEST(MwaArray, TypedArrayWrapsTheArray) {
  PairArray *p = PairArray_new();
  Pair x = {1, 2}, y = {3, 4};
  ASSERT_TRUE(PairArray_pushBack(p, &x));
  ASSERT_TRUE(PairArray_pushBack(p, &y));
  EXPECT_EQ(PairArray_getSize(p), 2);
  EXPECT_EQ(PairArray_getBuffer(p)[1].b, 4);
  PairArray_free(p);
}

TEST(MwaMutex, IsRecursive) {
  MwaErrorInfo e;
  MwaMutex *m = MwaMutex_new(&e);
  ASSERT_NE(m, nullptr);
  MwaMutex_lock(m);
  MwaMutex_lock(m);
  std::atomic<bool> taken{false};
  std::thread other([&] {
    MwaMutex_lock(m);
    taken = true;
    MwaMutex_unlock(m);
  });
  MwaMutex_unlock(m);
  pl_sleep_ms(50);
  EXPECT_FALSE(taken) << "one unlock of two leaves it held";
  MwaMutex_unlock(m);
  other.join();
  EXPECT_TRUE(taken);
  MwaMutex_free(m);
}

TEST(MwaPaths, JoinPath) {
  std::string sep(1, pl_path_sep);
  struct {
    const char *parent, *child;
    std::string result;
  } cases[] = {
      {"C:\\Tovx", "bin", "C:\\Tovx" + sep + "bin"},
      {"C:\\Tovx\\", "bin", "C:\\Tovx\\bin"},
      {"/opt/tovx/", "bin", "/opt/tovx/bin"},
      {"", "bin", "bin"},
  };
  for (const auto &c : cases) {
    char buf[MWA_PATH_MAX];
    snprintf(buf, sizeof buf, "%s", c.parent);
    EXPECT_EQ(mwa_joinpath(buf, sizeof buf, c.child), 1);
    EXPECT_EQ(buf, c.result);
  }
  char small[8] = "abcdef";
  EXPECT_EQ(mwa_joinpath(small, sizeof small, "g"), 0);
  EXPECT_STREQ(small, "abcdef");
  EXPECT_EQ(mwa_isseparator('\\'), 1);
  EXPECT_EQ(mwa_isseparator('/'), 1);
  EXPECT_EQ(mwa_isseparator(':'), 0);
}

TEST(MwaPaths, DerivedPathsAreBounded) {
  MwaErrorInfo e;
  // Room for the directory itself but not for bin/logs/tovxservice.log.
  std::string longDir(MWA_PATH_MAX - 10, 'd');
  EXPECT_EQ(mwa_setinstalldir(longDir.c_str(), &e), 0);
  EXPECT_STREQ(e.op, "mwa_joinpath");
  ASSERT_EQ(mwa_setinstalldir("/opt/x", &e), 1);
  std::string sep(1, pl_path_sep);
  EXPECT_EQ(std::string(mwa_getlogfile()), "/opt/x" + sep + "bin" + sep + "logs" + sep + "tovxservice.log");
  EXPECT_EQ(std::string(mwa_getagentdir()), "/opt/x" + sep + "agent");
}

TEST(MwaVersion, RecordLines) {
  TkScratch s;
  ASSERT_EQ(pl_dir_create(s.path("etc").c_str()), 0);
  MwaErrorInfo e;
  ASSERT_EQ(mwa_setinstalldir(s.dir.c_str(), &e), 1);
  std::string v70(70, 'v');
  struct {
    std::string text;
    const char *marketing, *technical;
  } cases[] = {
      {"version.marketing=7.0\nversion.technical=07-00\n", "7.0", "07-00"},
      {"version.marketing = 7.0\n", "", ""},
      {"Version.marketing=7.0\n#version.marketing=1\n", "", ""},
      {"version.marketing=1\nversion.marketing=2 \n", "2 ", ""},
      {"version.marketing=" + v70 + "\n", "", ""},
      {"version.technical=x=y\r\n", "", "x=y"},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(tk_write(s.path("etc") + pl_path_sep + "amc_version.properties", c.text));
    ASSERT_EQ(mwa_readversion(&e), 1);
    std::string marketing = c.marketing;
    if (c.text.find(v70) != std::string::npos)
      marketing = std::string(63, 'v');
    EXPECT_EQ(mwa_getversionmarketing(), marketing) << c.text;
    std::string technical = mwa_getversiontechnical();
    if (!technical.empty() && technical.back() == '\r')
      technical.pop_back(); // POSIX keeps a CR that Windows text mode drops
    EXPECT_EQ(technical, c.technical) << c.text;
  }
  pl_file_delete((s.path("etc") + pl_path_sep + "amc_version.properties").c_str());
  EXPECT_EQ(mwa_readversion(&e), 0);
  EXPECT_STREQ(e.op, "fopen");
  EXPECT_EQ(e.err, 2);
}
}
