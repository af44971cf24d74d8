#include "platform/file.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

#include "testkit.h"

namespace {

TEST(File, CreateNewIsExclusive) {
  TkScratch s;
  std::string p = s.path("lock");
  EXPECT_EQ(pl_file_create_new(p.c_str()), 0);
  EXPECT_EQ(pl_file_exists(p.c_str()), 1);
  EXPECT_EQ(pl_file_create_new(p.c_str()), EEXIST);
  EXPECT_EQ(pl_file_delete(p.c_str()), 0);
  EXPECT_EQ(pl_file_exists(p.c_str()), 0);
  EXPECT_EQ(pl_file_delete(p.c_str()), ENOENT);
}

TEST(File, TextModeWritesThePlatformLineEnd) {
  TkScratch s;
  std::string p = s.path("t");
  FILE *fp = pl_file_open(p.c_str(), "w", PL_OPEN_NOFOLLOW | PL_OPEN_OWN_ONLY, nullptr);
  ASSERT_NE(fp, nullptr);
  fputs("1\n", fp);
  fclose(fp);
  EXPECT_EQ(tk_read(p), std::string("1") + pl_text_eol);
}

TEST(File, WriteModeTruncatesAnExistingFile) {
  TkScratch s;
  std::string p = s.path("t");
  ASSERT_TRUE(tk_write(p, "long old content"));
  FILE *fp = pl_file_open(p.c_str(), "wb", PL_OPEN_NOFOLLOW | PL_OPEN_OWN_ONLY, nullptr);
  ASSERT_NE(fp, nullptr);
  fputs("new", fp);
  fclose(fp);
  EXPECT_EQ(tk_read(p), "new");
}

TEST(File, TempDirEndsWithSeparatorAndReportsNeededSize) {
  char buf[260];
  int n = pl_temp_dir(buf, sizeof buf);
  ASSERT_GT(n, 0);
  ASSERT_LT(n, 260);
  EXPECT_EQ(buf[n - 1], pl_path_sep);
  char tiny[2] = {'x', 'x'};
  EXPECT_GE(pl_temp_dir(tiny, 1), 1);
  EXPECT_EQ(tiny[1], 'x') << "nothing written past the buffer";
}

TEST(File, ListsAndClearsReadOnly) {
  TkScratch s;
  ASSERT_TRUE(tk_write(s.path("a"), ""));
  ASSERT_TRUE(tk_write(s.path("b"), ""));
  std::vector<std::string> names;
  ASSERT_EQ(pl_dir_list(s.dir.c_str(), &names), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(pl_file_clear_readonly(s.path("a").c_str()), 0);
}
}
