#include "platform/mailslot.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/procinfo.h"

namespace {

std::string fs_name(const char *leaf) {
  return std::string("\\\\.\\mailslot\\TovxTest\\p") + std::to_string(pl_getpid()) + "\\" + leaf;
}

TEST(Mailslot, DeliversWholeMessagesWithTheirZeroByte) {
  std::string name = fs_name("a");
  PlMailslot *server = nullptr;
  ASSERT_EQ(pl_mailslot_create(name.c_str(), &server), 0);
  PlMailslot *client = nullptr;
  ASSERT_EQ(pl_mailslot_open(name.c_str(), &client), 0);
  const char first[] = "send SIGBREAK GC::/tmp/";
  ASSERT_EQ(pl_mailslot_write(client, first, sizeof first), 0);
  ASSERT_EQ(pl_mailslot_write(client, "x", 1), 0);
  pl_mailslot_close(client);

  char buf[256];
  size_t got = 0;
  int err = 0;
  ASSERT_EQ(pl_mailslot_read(server, buf, sizeof buf, 2000, &got, &err), 1);
  EXPECT_EQ(std::string(buf, got), std::string(first, sizeof first));
  ASSERT_EQ(pl_mailslot_read(server, buf, sizeof buf, 2000, &got, &err), 1);
  EXPECT_EQ(std::string(buf, got), "x");
  EXPECT_EQ(pl_mailslot_read(server, buf, sizeof buf, 50, &got, &err), 0) << "time-out";
  pl_mailslot_close(server);
}

TEST(Mailslot, ClientFindsNoServerOnceItHasGone) {
  std::string name = fs_name("b");
  PlMailslot *client = nullptr;
  EXPECT_EQ(pl_mailslot_open(name.c_str(), &client), ENOENT);
  PlMailslot *server = nullptr;
  ASSERT_EQ(pl_mailslot_create(name.c_str(), &server), 0);
  pl_mailslot_close(server);
  EXPECT_NE(pl_mailslot_open(name.c_str(), &client), 0);
}

TEST(Mailslot, SecondServerForALiveNameIsRefused) {
  std::string name = fs_name("c");
  PlMailslot *one = nullptr, *two = nullptr;
  ASSERT_EQ(pl_mailslot_create(name.c_str(), &one), 0);
  EXPECT_NE(pl_mailslot_create(name.c_str(), &two), 0);
  pl_mailslot_close(one);
}

TEST(Mailslot, LongNameNeverReachesAnotherSlot) {
  // Whether the platform can hold the long name or refuses it, a name cut
  // short must not meet a server of the long one.
  std::string longName = fs_name("") + std::string(120, 'n');
  PlMailslot *server = nullptr;
  int rc = pl_mailslot_create(longName.c_str(), &server);
  std::string cut = longName.substr(0, 100);
  PlMailslot *client = nullptr;
  EXPECT_NE(pl_mailslot_open(cut.c_str(), &client), 0);
  if (rc == 0)
    pl_mailslot_close(server);
  else
    EXPECT_EQ(rc, ENAMETOOLONG);
}
}
