// Leak candidate classes, their weights, and the marking, depth and upper
// object walks over the newest dump.
#include "dump_fixture.h"
#include "heapAudit.h"
#include "leakCandidate.h"
#include "strongComponent.h"

namespace {

using Leak = DumpFixture;

// A dump with class G (instance words w) and class H, from its time.
std::string grown(int second, long words, int age = 0, bool with_g = true) {
  std::string t = "header time=2009-04-20T01:20:" + std::to_string(second) +
                  "\nname id=0x10 text=G\nname id=0x11 text=H\nclass id=0x300 name=0x11 isize=2\n";
  if (with_g)
    t += "class age=" + std::to_string(age) + " id=0x200 name=0x10 isize=2\nsizes list=0x200:1:" +
         std::to_string(words) + ",0x300:1:7\n";
  else
    t += "sizes list=0x300:1:7\n";
  return t;
}

TEST_F(Leak, GrowthIsTheRoundedSlope) {
  struct {
    std::vector<long> words;
    long growth; // 0: no candidate
  } cases[] = {
      {{100, 150, 200}, 50},
      {{200, 150, 100}, 0},
      {{100, 100, 101}, 1},
      {{100, 100, 100}, 0},
      {{5, 1000}, 995},
  };
  for (auto &c : cases) {
    std::vector<std::string> dumps;
    for (size_t i = 0; i < c.words.size(); ++i)
      dumps.push_back(grown(static_cast<int>(10 + i), c.words[i]));
    read(dumps);
    std::unique_ptr<ClassSizeInfo> list(resolve_leak_classes(set.get(), false));
    SCOPED_TRACE(c.words.back());
    if (!c.growth) {
      EXPECT_EQ(list->count, 0);
      continue;
    }
    ASSERT_EQ(list->count, 1) << "the class H does not grow";
    EXPECT_EQ(list->rows[0].total_words, static_cast<uint32_t>(c.growth));
    EXPECT_EQ(list->rows[0].state, static_cast<uint32_t>(BS_LARGE));
    EXPECT_EQ(list->rows[0].row_kind, static_cast<uint32_t>(ROW_INSTANCE));
    EXPECT_EQ(list->rows[0].object_count, 0u);
  }
}

TEST_F(Leak, AClassMissingOrReloadedIsNeverACandidate) {
  read({grown(10, 100, 0, false), grown(11, 200), grown(12, 300)});
  std::unique_ptr<ClassSizeInfo> list(resolve_leak_classes(set.get(), false));
  EXPECT_EQ(list->count, 0) << "missing from the first dump";
  read({grown(10, 100, 1), grown(11, 200, 2), grown(12, 300, 2)});
  list.reset(resolve_leak_classes(set.get(), false));
  EXPECT_EQ(list->count, 0) << "loaded anew: another age";
}

TEST_F(Leak, WeightsAreGrowthOverTheSmallest) {
  std::unique_ptr<ClassSizeInfo> list(ClassSizeInfo::empty(2, nullptr));
  list->rows[0].total_words = 4;
  list->rows[1].total_words = 10;
  set_class_weights(list.get());
  EXPECT_EQ(list->rows[0].weight, 1.0);
  EXPECT_EQ(list->rows[1].weight, 2.5);
}

// The first dump has age 1; objects of age 2 are young. L grows.
const char kFirst[] = "header time=2009-04-20T01:20:10\nage 1\nname id=0x10 text=L\nname id=0x11 text=O\n"
                      "class id=0x200 name=0x10 isize=2\nclass id=0x208 name=0x11 isize=2\n"
                      "sizes list=0x200:1:10\n";

std::string lastDump(const std::string &objects) {
  return std::string("header time=2009-04-20T01:20:20\nage 2\nname id=0x10 text=L\nname id=0x11 text=O\n"
                     "class id=0x200 name=0x10 isize=2\nclass id=0x208 name=0x11 isize=2\n"
                     "sizes list=0x200:3:30\n") +
         objects;
}

struct Walks {
  std::unique_ptr<ClassSizeInfo> list;
  std::unique_ptr<StrongComponentSet> cs;
  int marked = 0;
};

Walks runWalks(HeapDumpDataSet *set) {
  Walks w;
  w.cs.reset(StrongComponentSet::build(set->data.back().get(), false));
  w.list.reset(resolve_leak_classes(set, false));
  w.marked = mark_leak_candidates(set, w.cs.get(), w.list.get());
  return w;
}

TEST_F(Leak, MarkingFollowsWhatReachesYoungCandidates) {
  // root -> A -> B -> young L; C (old L) alone; D holds B as well.
  HeapDumpData *d = read({kFirst, lastDump("instance age=1 id=0x1000 class=0x208 values=0x1008\n"
                                           "instance age=1 id=0x1008 class=0x208 values=0x1010\n"
                                           "instance age=2 id=0x1010 class=0x200\n"
                                           "instance age=1 id=0x1018 class=0x200\n"
                                           "instance age=1 id=0x1020 class=0x208 values=0x1008\n"
                                           "root kind=jni_global obj=0x1000\nroot kind=jni_global obj=0x1018\n"
                                           "root kind=jni_global obj=0x1020\n")});
  Walks w = runWalks(set.get());
  ASSERT_EQ(w.list->count, 1);
  EXPECT_EQ(w.marked, 4) << "A, B, the young object, and D through B met again";
  auto marked = [d](uint32_t s) { return (d->find(s)->flags & FLAG_MARK2) != 0; };
  EXPECT_TRUE(marked(3));
  EXPECT_TRUE(marked(4));
  EXPECT_TRUE(marked(5));
  EXPECT_FALSE(marked(6)) << "an old object of a candidate class";
  EXPECT_TRUE(marked(7));

  std::unique_ptr<DepthTable> depth(build_depth_table(set.get(), w.cs.get()));
  int32_t v = -9;
  EXPECT_TRUE(depth->find(5, &v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(depth->find(7, &v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(depth->find(6, &v));
  EXPECT_EQ(depth->count, 4);
  EXPECT_EQ(depth->max_depth, 2);

  std::unique_ptr<UpperObjectTable> up(resolve_upper_objects(set.get()));
  const std::vector<EntryBase *> *h = up->find(4);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->size(), 2u) << "A and D";
  EXPECT_EQ((*h)[0]->serial, 3u);
  EXPECT_EQ((*h)[1]->serial, 7u);
  h = up->find(3);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(h->empty()) << "held by a root only";
}

TEST_F(Leak, AComponentWithAYoungMemberIsMarkedWhole) {
  // root -> R -> (P <-> Q), Q young L; R also holds P twice.
  HeapDumpData *d = read({kFirst, lastDump("instance age=1 id=0x1000 class=0x208 values=0x1008,0x1008\n"
                                           "instance age=1 id=0x1008 class=0x208 values=0x1010\n"
                                           "instance age=2 id=0x1010 class=0x200 values=0x1008\n"
                                           "root kind=jni_global obj=0x1000\n")});
  Walks w = runWalks(set.get());
  ASSERT_EQ(w.cs->size, 2);
  EXPECT_EQ(w.marked, 1 + 2 + 1) << "the component, its two members, and R";
  EXPECT_TRUE(w.cs->component(1)->flags & FLAG_MARK2);
  EXPECT_TRUE(d->find(3)->flags & FLAG_MARK2);
  EXPECT_EQ(component_of(w.cs.get(), d->find(4)), w.cs->component(1));
  EXPECT_EQ(component_of(w.cs.get(), d->find(3)), nullptr);

  std::unique_ptr<DepthTable> depth(build_depth_table(set.get(), w.cs.get()));
  int32_t v = -9;
  EXPECT_TRUE(depth->find(w.cs->component(1)->serial, &v));
  EXPECT_EQ(v, 1) << "the component takes the depth of the member it is met through";

  std::unique_ptr<UpperObjectTable> up(resolve_upper_objects(set.get()));
  const std::vector<EntryBase *> *h = up->find(4);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->size(), 2u) << "R once (two fields), and Q";
  EXPECT_EQ((*h)[0]->serial, 3u);
  EXPECT_EQ((*h)[1]->serial, 5u);
}

} // namespace
