#include <gtest/gtest.h>
#include <string>

#include "mwa_msgbundle.h"
#include "platform/file.h"
#include "testkit.h"

namespace {

struct Bundle : ::testing::Test {
  TkScratch s;
  MwaMsgBundle *b = nullptr;
  MwaErrorInfo e;
  void TearDown() override {
    MwaMsgBundle_free(b);
    MwaMsgBundle_setCodePage(0);
  }
  std::string prefix() const { return s.path("talvagt"); }
  bool load(const std::string &content) {
    tk_write(prefix() + ".txt", content);
    b = MwaMsgBundle_new();
    return MwaMsgBundle_init(b, prefix().c_str(), &e) == 1;
  }
  std::string get(const char *key) {
    const char *t = MwaMsgBundle_getMessage(b, key, "(default)", &e);
    return t ? t : "(null)";
  }
};

TEST_F(Bundle, FileFormatAndEscapes) {
  for (const char *eol : {"\n", "\r\n"}) {
    std::string E = eol;
    std::string file = "# comment=x" + E + "=not a key" + E + "no equals sign" + E + E +
                       "KEY1=first" + E + "KEY1=second" + E + "spaced =with space" + E +
                       "eq=a=b#c" + E + "esc=one\\ntwo \\\\ \\x end\\" + E + "empty=" + E + "last=no line end";
    ASSERT_TRUE(load(file)) << e.op;
    SCOPED_TRACE(E == "\n" ? "LF" : "CRLF");
    EXPECT_EQ(MwaMsgItemArray_getSize(b->msgItems), 6);
    EXPECT_EQ(get("KEY1"), "first");
    EXPECT_EQ(get("spaced "), "with space");
    EXPECT_EQ(get("spaced"), "(default)");
    EXPECT_EQ(get("eq"), "a=b#c");
    EXPECT_EQ(get("esc"), "one\ntwo \\ x end");
    EXPECT_EQ(get("empty"), "");
    EXPECT_EQ(get("last"), "(default)") << "no line feed: no entry";
    EXPECT_EQ(get("# comment"), "(default)");
    EXPECT_EQ(get("key1"), "(default)") << "case-sensitive";
    MwaMsgBundle_free(b);
    b = nullptr;
  }
}

TEST_F(Bundle, TextsAreReadOnceAndCached) {
  ASSERT_TRUE(load("A=alpha\nB=beta\n"));
  const char *first = MwaMsgBundle_getMessage(b, "A", nullptr, &e);
  ASSERT_NE(first, nullptr);
  // The file changes after indexing: the cached text stays.
  tk_write(prefix() + ".txt", "A=ALPHA\nB=BETA\n");
  EXPECT_EQ(MwaMsgBundle_getMessage(b, "A", nullptr, &e), first);
  EXPECT_EQ(MwaMsgBundle_getMessage(b, "missing", nullptr, &e), nullptr);
  EXPECT_STREQ(e.op, "unknown");
  EXPECT_EQ(e.err, 0);
}

TEST_F(Bundle, LocalisedFileOnItsCodePageOnly) {
  tk_write(prefix() + "_ja_JP.SJIS.txt", "K=ja\n");
  tk_write(prefix() + ".txt", "K=plain\n");
  struct {
    unsigned cp;
    bool localised;
    const char *text;
  } cases[] = {{932, true, "ja"}, {437, false, "plain"}, {932, false, "plain"}};
  for (const auto &c : cases) {
    if (!c.localised)
      pl_file_delete((prefix() + "_ja_JP.SJIS.txt").c_str());
    if (c.cp == 437)
      tk_write(prefix() + "_ja_JP.SJIS.txt", "K=ja\n");
    MwaMsgBundle_setCodePage(c.cp);
    MwaMsgBundle *m = MwaMsgBundle_new();
    ASSERT_EQ(MwaMsgBundle_init(m, prefix().c_str(), &e), 1);
    EXPECT_STREQ(MwaMsgBundle_getMessage(m, "K", nullptr, &e), c.text) << c.cp;
    MwaMsgBundle_free(m);
  }
}

TEST_F(Bundle, MissingFileNamesWhatWasTried) {
  b = MwaMsgBundle_new();
  EXPECT_EQ(MwaMsgBundle_init(b, prefix().c_str(), &e), 0);
  EXPECT_STREQ(e.op, "fopen");
  EXPECT_EQ(e.err, 2);
  EXPECT_EQ(std::string(MwaMsgBundle_getFilename(b)), prefix() + ".txt");
  EXPECT_STREQ(MwaMsgHelper_getMessage(b, "X", "dflt"), "dflt");
  EXPECT_STREQ(MwaMsgHelper_getMessage(nullptr, "X", "dflt"), "dflt");
}

TEST_F(Bundle, OverlongKeysNeverOverflow) {
  ASSERT_TRUE(load(std::string(300, 'k') + "=long\nok=fine\n"));
  EXPECT_EQ(get("ok"), "fine");
  EXPECT_EQ(MwaMsgItemArray_getSize(b->msgItems), 1) << "the overlong line is passed over";
  char buf[8];
  EXPECT_EQ(MwaMsgHelper_format(buf, sizeof buf, "%s-%d", "abcdef", 42), 9);
  EXPECT_STREQ(buf, "abcdef-");
}
}
