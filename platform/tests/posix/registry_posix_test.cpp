// The on-disk side of the registry stand-in.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <string>

#include "platform/procinfo.h"
#include "testkit.h"

namespace {

struct StoreFixture : ::testing::Test {
  TkScratch s;
  PlHkey key = nullptr;
  std::string dir;
  void SetUp() override {
    pl_setenv("TOVX_REGISTRY", s.path("reg").c_str());
    ASSERT_EQ(pl_reg_create(pl_reg_root(PL_HKLM), "SOFTWARE\\Odd/Name", PL_REG_ALL, &key), 0);
    dir = s.path("reg") + "/HKEY_LOCAL_MACHINE/SOFTWARE/Odd%2FName";
    ASSERT_TRUE(tk_exists(dir)) << "a slash in a key name is encoded on disk";
  }
  void TearDown() override { pl_reg_close(key); }
};

TEST_F(StoreFixture, HalfWrittenValuesAreNeverTakenForValues) {
  ASSERT_EQ(pl_reg_set_value(key, "Path00", PL_REG_SZ, "C:\\a", 5), 0);
  std::string good = tk_read(dir + "/.values");
  // A crash during a write leaves only a temporary file beside the good one.
  ASSERT_TRUE(tk_write(dir + "/.values.tmp999", good.substr(0, good.size() / 2)));
  char buf[16];
  uint32_t len = sizeof buf;
  EXPECT_EQ(pl_reg_query_value(key, "Path00", nullptr, buf, &len), 0);
  EXPECT_STREQ(buf, "C:\\a");
  // A values file cut anywhere is refused, never read as other values.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    ASSERT_TRUE(tk_write(dir + "/.values", good.substr(0, cut)));
    len = sizeof buf;
    int rc = pl_reg_query_value(key, "Path00", nullptr, buf, &len);
    EXPECT_EQ(rc, PL_ERR_REGISTRY_CORRUPT) << "cut at " << cut;
  }
}

TEST_F(StoreFixture, DeletedKeyAnswersKeyDeleted) {
  PlHkey child;
  ASSERT_EQ(pl_reg_create(key, "Child", PL_REG_ALL, &child), 0);
  ASSERT_EQ(pl_reg_delete_key(key, "Child", 0), 0);
  uint32_t len = 0;
  EXPECT_EQ(pl_reg_query_value(child, "x", nullptr, nullptr, &len), PL_ERR_KEY_DELETED);
  pl_reg_close(child);
}
}

namespace {

TEST_F(StoreFixture, WideNamesRoundTripThroughUtf8) {
  // "é" and an unpaired surrogate, as the narrow calls store them.
  for (const char *narrow : {"\xc3\xa9t\xc3\xa9", "\xed\xa0\x80x"}) {
    PlHkey k;
    ASSERT_EQ(pl_reg_create(key, narrow, PL_REG_ALL, &k), 0);
    pl_reg_close(k);
  }
  std::vector<std::u16string> names;
  for (uint32_t i = 0;; ++i) {
    char16_t name[16];
    uint32_t len = 16;
    if (pl_reg_enum_key_w(key, i, name, &len) != 0)
      break;
    names.push_back(std::u16string(name, len));
  }
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], u"\u00e9t\u00e9");
  EXPECT_EQ(names[1], std::u16string(1, char16_t(0xD800)) + u"x");
  PlHkey k;
  EXPECT_EQ(pl_reg_open_w(key, names[1].c_str(), PL_REG_READ, &k), 0);
  pl_reg_close(k);
}
}
