#include "platform/registry.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/procinfo.h"
#include "testkit.h"

namespace {

// A private key under HKEY_CURRENT_USER, in a private store on POSIX.
struct RegFixture : ::testing::Test {
  TkScratch s;
  std::string base;
  PlHkey key = nullptr;

  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
    base = "Software\\TovxTest\\k" + std::to_string(pl_getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKCU), base.c_str(), PL_REG_ALL, &key), 0);
  }
  void TearDown() override {
    pl_reg_close(key);
    deleteTree(pl_reg_root(PL_HKCU), base);
  }
  static void deleteTree(PlHkey root, const std::string &path) {
    PlHkey k;
    if (pl_reg_open(root, path.c_str(), PL_REG_ALL, &k) != 0)
      return;
    char name[256];
    uint32_t len = sizeof name;
    std::vector<std::string> subs;
    for (uint32_t i = 0; (len = sizeof name, pl_reg_enum_key(k, i, name, &len)) == 0; ++i)
      subs.push_back(name);
    pl_reg_close(k);
    for (const std::string &sub : subs)
      deleteTree(root, path + "\\" + sub);
    pl_reg_delete_key(root, path.c_str(), 0);
  }
  std::string querySz(PlHkey k, const char *name, int *rc) {
    char buf[512];
    uint32_t len = sizeof buf, type = 0;
    *rc = pl_reg_query_value(k, name, &type, buf, &len);
    return *rc == 0 ? std::string(buf, len) : std::string();
  }
};

TEST_F(RegFixture, ValuesOfEveryTypeComeBackAsStored) {
  const char sz[] = "C:\\Program Files\\Tovx";
  const char multi[] = "a\0bc\0\0";
  uint32_t dword = 0x12345678;
  const unsigned char bin[] = {0, 1, 2, 0xff, '\n', 0};
  struct {
    const char *name;
    uint32_t type;
    const void *data;
    uint32_t len;
  } cases[] = {
      {"Path00", PL_REG_SZ, sz, sizeof sz},
      {"Expand", PL_REG_EXPAND_SZ, "%SystemRoot%\\x", 15},
      {"Multi", PL_REG_MULTI_SZ, multi, sizeof multi},
      {"Count", PL_REG_DWORD, &dword, 4},
      {"Blob", PL_REG_BINARY, bin, sizeof bin},
      {"", PL_REG_SZ, "default", 8},
  };
  for (const auto &c : cases)
    ASSERT_EQ(pl_reg_set_value(key, c.name, c.type, c.data, c.len), 0) << c.name;
  for (const auto &c : cases) {
    unsigned char buf[64];
    uint32_t len = sizeof buf, type = 99;
    ASSERT_EQ(pl_reg_query_value(key, c.name, &type, buf, &len), 0) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    ASSERT_EQ(len, c.len) << c.name;
    EXPECT_EQ(memcmp(buf, c.data, len), 0) << c.name;
  }
  // Size only, then a buffer one byte short.
  uint32_t len = 0;
  EXPECT_EQ(pl_reg_query_value(key, "Path00", nullptr, nullptr, &len), 0);
  EXPECT_EQ(len, sizeof sz);
  char shortBuf[sizeof sz - 1];
  len = sizeof shortBuf;
  EXPECT_EQ(pl_reg_query_value(key, "Path00", nullptr, shortBuf, &len), PL_ERR_MORE_DATA);
  EXPECT_EQ(len, sizeof sz);
  EXPECT_EQ(pl_reg_query_value(key, "Missing", nullptr, nullptr, &len), PL_ERR_FILE_NOT_FOUND);
}

TEST_F(RegFixture, NamesIgnoreCaseAndKeepIt) {
  PlHkey sub;
  ASSERT_EQ(pl_reg_create(key, "MixedCase\\PathName", PL_REG_ALL, &sub), 0);
  ASSERT_EQ(pl_reg_set_value(sub, "Path00", PL_REG_SZ, "x", 2), 0);
  pl_reg_close(sub);
  ASSERT_EQ(pl_reg_open(key, "MIXEDCASE\\pathname", PL_REG_READ, &sub), 0);
  int rc;
  EXPECT_EQ(querySz(sub, "PATH00", &rc), std::string("x", 2));
  char name[64];
  uint32_t len = sizeof name;
  ASSERT_EQ(pl_reg_enum_value(sub, 0, name, &len, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "Path00");
  pl_reg_close(sub);
  len = sizeof name;
  ASSERT_EQ(pl_reg_enum_key(key, 0, name, &len), 0);
  EXPECT_STREQ(name, "MixedCase");
  EXPECT_EQ(len, 9u);
}

TEST_F(RegFixture, SubkeysAndValuesEnumerateInNameOrder) {
  for (const char *n : {"beta", "Alpha", "gamma", "Delta"}) {
    PlHkey k;
    ASSERT_EQ(pl_reg_create(key, n, PL_REG_ALL, &k), 0);
    pl_reg_close(k);
    ASSERT_EQ(pl_reg_set_value(key, n, PL_REG_BINARY, "", 1), 0);
  }
  std::vector<std::string> keys, values;
  char name[64];
  uint32_t len;
  int rc;
  for (uint32_t i = 0; (len = sizeof name, rc = pl_reg_enum_key(key, i, name, &len)) == 0; ++i)
    keys.push_back(name);
  EXPECT_EQ(rc, PL_ERR_NO_MORE_ITEMS);
  for (uint32_t i = 0;
       (len = sizeof name, rc = pl_reg_enum_value(key, i, name, &len, nullptr, nullptr, nullptr)) == 0; ++i)
    values.push_back(name);
  EXPECT_EQ(rc, PL_ERR_NO_MORE_ITEMS);
  const std::vector<std::string> sorted = {"Alpha", "beta", "Delta", "gamma"};
  EXPECT_EQ(keys, sorted);
  EXPECT_EQ(values.size(), 4u);
  char tiny[3];
  len = sizeof tiny;
  EXPECT_EQ(pl_reg_enum_key(key, 0, tiny, &len), PL_ERR_MORE_DATA);

  PlRegInfo info;
  ASSERT_EQ(pl_reg_query_info(key, &info), 0);
  EXPECT_EQ(info.subkeys, 4u);
  EXPECT_EQ(info.max_subkey_len, 5u);
  EXPECT_EQ(info.values, 4u);
  EXPECT_EQ(info.max_value_name_len, 5u);
  EXPECT_EQ(info.max_value_len, 1u);
}

TEST_F(RegFixture, DeleteRefusesAKeyWithSubkeys) {
  PlHkey k;
  ASSERT_EQ(pl_reg_create(key, "Parent\\Child", PL_REG_ALL, &k), 0);
  pl_reg_close(k);
  EXPECT_EQ(pl_reg_delete_key(key, "Parent", 0), PL_ERR_ACCESS_DENIED);
  EXPECT_EQ(pl_reg_delete_key(key, "parent\\child", 0), 0);
  EXPECT_EQ(pl_reg_open(key, "Parent\\Child", PL_REG_READ, &k), PL_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(pl_reg_delete_key(key, "Parent", 0), 0);
  EXPECT_EQ(pl_reg_delete_key(key, "Parent", 0), PL_ERR_FILE_NOT_FOUND);
}

TEST_F(RegFixture, ReadOnlyKeyRefusesWrites) {
  PlHkey ro;
  ASSERT_EQ(pl_reg_open(pl_reg_root(PL_HKCU), base.c_str(), PL_REG_READ, &ro), 0);
  EXPECT_EQ(pl_reg_set_value(ro, "x", PL_REG_SZ, "", 1), PL_ERR_ACCESS_DENIED);
  pl_reg_close(ro);
  EXPECT_EQ(pl_reg_delete_value(key, "nothing"), PL_ERR_FILE_NOT_FOUND);
}
}

namespace {

TEST_F(RegFixture, WideCallsSeeTheSameKeys) {
  PlHkey sub;
  ASSERT_EQ(pl_reg_create(key, "Wide\\PathName", PL_REG_ALL, &sub), 0);
  ASSERT_EQ(pl_reg_set_value(sub, "Path00", PL_REG_SZ, "C:\\a", 5), 0);
  uint32_t n = 7;
  ASSERT_EQ(pl_reg_set_value(sub, "N", PL_REG_DWORD, &n, 4), 0);
  pl_reg_close(sub);

  ASSERT_EQ(pl_reg_open_w(key, u"wide\\PATHNAME", PL_REG_READ, &sub), 0);
  char16_t data[16];
  uint32_t len = sizeof data, type = 0;
  ASSERT_EQ(pl_reg_query_value_w(sub, u"path00", &type, data, &len), 0);
  EXPECT_EQ(type, static_cast<uint32_t>(PL_REG_SZ));
  EXPECT_EQ(len, 10u) << "four characters and the terminator, in UTF-16";
  EXPECT_EQ(std::u16string(data), u"C:\\a");
  uint32_t dword = 0;
  len = 4;
  ASSERT_EQ(pl_reg_query_value_w(sub, u"N", &type, &dword, &len), 0);
  EXPECT_EQ(dword, 7u);

  char16_t name[16];
  uint32_t nlen = 16;
  ASSERT_EQ(pl_reg_enum_value_w(sub, 1, name, &nlen, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::u16string(name), u"Path00");
  PlRegInfo info;
  ASSERT_EQ(pl_reg_query_info_w(sub, &info), 0);
  EXPECT_EQ(info.values, 2u);
  EXPECT_EQ(info.max_value_name_len, 6u);
  nlen = 16;
  EXPECT_EQ(pl_reg_enum_key_w(key, 1, name, &nlen), PL_ERR_NO_MORE_ITEMS);
  nlen = 16;
  ASSERT_EQ(pl_reg_enum_key_w(key, 0, name, &nlen), 0);
  EXPECT_EQ(std::u16string(name), u"Wide");
  EXPECT_EQ(pl_reg_close(sub), 0);
  EXPECT_EQ(pl_reg_close(sub), PL_ERR_INVALID_HANDLE) << "closing twice is refused";
}
}
