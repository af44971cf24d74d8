// What the POSIX backend adds for a temporary directory shared by all
// users: no link is followed, no other user's file is changed.
#include "platform/file.h"
#include "platform/mailslot.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testkit.h"

namespace {

TEST(FilePosix, NeverWritesThroughALink) {
  TkScratch s;
  std::string target = s.path("target"), link = s.path("link");
  ASSERT_TRUE(tk_write(target, "keep"));
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  int err = 0;
  EXPECT_EQ(pl_file_open(link.c_str(), "w", PL_OPEN_NOFOLLOW, &err), nullptr);
  EXPECT_EQ(err, ELOOP);
  EXPECT_EQ(pl_file_create_new(link.c_str()), EEXIST);
  EXPECT_EQ(pl_file_delete(link.c_str()), 0) << "deleting removes the link itself";
  EXPECT_EQ(tk_read(target), "keep");
}

TEST(FilePosix, DanglingLinkCountsAsPresent) {
  TkScratch s;
  std::string link = s.path("dangling");
  ASSERT_EQ(symlink(s.path("nowhere").c_str(), link.c_str()), 0);
  EXPECT_EQ(pl_file_exists(link.c_str()), 1);
  EXPECT_EQ(pl_file_create_new(link.c_str()), EEXIST);
  EXPECT_FALSE(tk_exists(s.path("nowhere")));
}

TEST(FilePosix, ClearReadOnlyRestoresOwnerWrite) {
  TkScratch s;
  std::string p = s.path("ro");
  ASSERT_TRUE(tk_write(p, ""));
  ASSERT_EQ(chmod(p.c_str(), 0444), 0);
  EXPECT_EQ(pl_file_clear_readonly(p.c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST(MailslotPosix, StaleSocketOfADeadServerIsReplaced) {
  // A server that died leaves its socket file behind.
  std::string name = "\\\\.\\mailslot\\TovxTest\\stale" + std::to_string(getpid());
  std::string path = "/tmp/.mailslot/TovxTest/stale" + std::to_string(getpid());
  PlMailslot *one = nullptr;
  ASSERT_EQ(pl_mailslot_create(name.c_str(), &one), 0);
  // Keep the file, drop the server: what a crash leaves.
  ASSERT_EQ(link(path.c_str(), (path + ".keep").c_str()), 0);
  pl_mailslot_close(one);
  ASSERT_EQ(rename((path + ".keep").c_str(), path.c_str()), 0);
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  PlMailslot *two = nullptr;
  EXPECT_EQ(pl_mailslot_create(name.c_str(), &two), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "usable by its owner only";
  pl_mailslot_close(two);
}

TEST(MailslotPosix, NamesThatLeaveTheRootAreRefused) {
  const char *bad[] = {"\\\\.\\mailslot\\..\\x", "\\\\.\\mailslot\\a\\\\b", "\\\\.\\mailslot\\",
                       "\\\\.\\pipe\\x", "\\\\.\\mailslot\\a/b", "\\\\.\\mailslot\\a\\"};
  for (const char *n : bad) {
    PlMailslot *s = nullptr;
    EXPECT_EQ(pl_mailslot_create(n, &s), EINVAL) << n;
  }
}
}
