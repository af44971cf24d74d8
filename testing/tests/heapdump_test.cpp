// The dump writer's bytes: what the analyzer's reader is tested with.
#include <gtest/gtest.h>

#include "heapdump.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string &text) {
  HdWriter w;
  std::string err;
  EXPECT_TRUE(hd_from_text(text, &w, &err)) << err;
  return w.bytes;
}

TEST(HeapDumpWriter, HeadersAndRecordsAreBigEndian) {
  std::vector<uint8_t> b = bytesOf("header bits=32 version=2 level=3 time=2009-04-20T01:20:29 mode=2 num=1 "
                                   "tenured=0x1000-0x2000 perm=0x3000-0x4000\n");
  std::vector<uint8_t> want = {0x00, 0x02, 3, 0x00, 109, 3, 20, 1, 20, 29, 2, 1, 0, 0, 0x10, 0,
                               0,    0,    0x20, 0, 0, 0, 0x30, 0, 0, 0, 0x40, 0};
  EXPECT_EQ(b, want);

  b = bytesOf("header bits=64 version=1\ninstance age=5 id=0x100000002 class=0x3 values=0x4\n");
  ASSERT_EQ(b.size(), 44u + 1 + 1 + 8 + 8 + 4 + 1 + 8);
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[1], 0x01);
  std::vector<uint8_t> rec(b.begin() + 44, b.end());
  std::vector<uint8_t> wantRec = {0x21, 5, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3,
                                  0,    0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 4};
  EXPECT_EQ(rec, wantRec);
}

TEST(HeapDumpWriter, VersionDecidesTheOptionalFields) {
  // The class size and the primitive array's class appear from version 2.
  size_t v1 = bytesOf("header version=1\nclass id=1 isize=8\nprimarray id=2 class=1 type=8 length=3\n").size();
  size_t v2 = bytesOf("header version=2\nclass id=1 isize=8\nprimarray id=2 class=1 type=8 length=3\n").size();
  EXPECT_EQ(v2 - v1, 8u);
  std::vector<uint8_t> n = bytesOf("header\nname id=7 text=a b#c\n");
  EXPECT_EQ(std::string(n.end() - 5, n.end()), "a b#c");
}

TEST(HeapDumpWriter, BadDescriptionsNameTheLine) {
  struct {
    const char *text, *error;
  } cases[] = {
      {"instance id=1\n", "line 1: the first record must be the header"},
      {"header bits=16\n", "line 1: bits must be 32 or 64"},
      {"header\ninstance id=zz\n", "line 2: bad number for id"},
      {"header\n# fine\nroot kind=nowhere obj=1\n", "line 3: unknown root kind"},
      {"header\nsizes list=1:2\n", "line 2: bad item in list"},
      {"header\nheader\n", "line 2: a second header"},
      {"", "no header"},
  };
  for (auto &c : cases) {
    HdWriter w;
    std::string err;
    EXPECT_FALSE(hd_from_text(c.text, &w, &err)) << c.text;
    EXPECT_EQ(err, c.error) << c.text;
  }
}

TEST(HeapDumpWriter, SyntheticHeapsGrowFromDumpToDump) {
  HdSynthetic s;
  s.objects = 200;
  s.growing_classes = 2;
  s.growth = 10;
  HdWriter a, b, again;
  hd_synthetic(s, &a);
  hd_synthetic(s, &again);
  s.dump_number = 2;
  hd_synthetic(s, &b);
  EXPECT_EQ(a.bytes, again.bytes) << "the same seed gives the same heap";
  const size_t instance = 1 + 1 + 4 + 4 + 4 + s.fanout * 5;
  // 20 more instances, the array that holds them and its root.
  EXPECT_EQ(b.bytes.size() - a.bytes.size(), 20 * instance + (1 + 1 + 4 + 4 + 4 + 20 * 4) + (1 + 4 + 4));
}

} // namespace
