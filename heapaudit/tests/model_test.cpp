// The reader and the model, on small dumps written by the dump writer.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "classSizeInfo.h"
#include "heapAudit.h"
#include "heapDumpData.h"
#include "heapdump.h"
#include "strongComponent.h"
#include "testkit.h"
#include "utils.h"
#include "dump_fixture.h"

namespace {

using Model = DumpFixture;

const char kHeader[] = "header bits=32 version=2 time=2009-04-20T01:20:29 perm=0x100-0x200\n";

TEST_F(Model, IdsBecomeSerialsAndTheLaterRecordWins) {
  HeapDumpData *d = read({std::string(kHeader) +
                          "class id=0x150 name=0x10 isize=3\n"
                          "instance id=0x1000 class=0x150 values=0x1008,0x9999\n"
                          "instance id=0x1008 class=0x150 values=0x1000\n"
                          "instance id=0x1000 class=0x150 values=0\n" // the same id again
                          "name id=0x10 text=A\n"});
  EXPECT_EQ(d->record_count, 4);
  EXPECT_EQ(d->klass_count, 1);
  EXPECT_EQ(d->max_serial, 5u);
  EXPECT_EQ(d->find(2), nullptr) << "the first record's serial went to the later one";
  InstanceEntry *b = static_cast<InstanceEntry *>(d->find(3));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->refs[0], 4u) << "a reference to the id finds the later serial";
  InstanceEntry *a = static_cast<InstanceEntry *>(d->find(4));
  EXPECT_EQ(a->refs[0], 0u);
  EXPECT_TRUE(d->find(1)->flags & FLAG_PERM);
  EXPECT_STREQ(d->class_name(a), "A");
  // Both records stay in the object table; the hidden one at its own
  // record position.
  EXPECT_EQ(order(d), (std::vector<uint32_t>{1, 3, 4, 4}));
  std::vector<InstanceEntry *> seen;
  d->for_each_object([&](EntryBase *e) {
    if (e->serial == 4)
      seen.push_back(static_cast<InstanceEntry *>(e));
  });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], a);
  EXPECT_EQ(seen[1]->refs[0], 3u);
}

TEST_F(Model, WideIdsKeepTheirLowHalf) {
  HeapDumpData *d = read({"header bits=64 version=2\n"
                          "class id=0x500000150 isize=3\n"
                          "instance id=0x100001000 class=0x150 values=0x700001000\n"});
  EXPECT_EQ(id_size, 8u);
  EXPECT_EQ(word_size, 8u);
  EXPECT_EQ(hex_width, 16);
  InstanceEntry *e = static_cast<InstanceEntry *>(d->find(2));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->klass, 1u) << "0x150 names the class whose id ends so";
  EXPECT_EQ(e->refs[0], 2u) << "the same low half: the same serial";
}

TEST_F(Model, SizesOfNodes) {
  HeapDumpData *d = read({std::string(kHeader) +
                          "class id=0x150 isize=5 ksize=0 fields=1:2,3:4 statics=5:6:2:0\n"
                          "class id=0x160 super=0x150 isize=7 fields=1:2,3:4,5:6\n"
                          "class id=0x170 super=0x160 isize=-4\n"
                          "method id=0x900 class=0x160 name=0\nmethod id=0x901 class=0x160 name=0\n"
                          "instance id=0x1000 class=0x150\n"
                          "instance id=0x1010 class=0x9999\n"
                          "objarray id=0x1020 class=0x150 elements=0,0,0\n"
                          "primarray id=0x1030 class=0x150 type=5 length=7\n"
                          "primarray id=0x1040 class=0x150 type=11 length=3\n"});
  struct {
    uint32_t serial, words;
  } cases[] = {
      {1, (0 + 2 + 1 + 600) / 4}, // methods, fields, statics
      {2, (2 + 1 + 0 + 600) / 4}, // what the class adds to its super class
      {3, 600 / 4},               // fewer fields than the super class: no wrap
      {4, 5}, {5, 0},             // an instance of a missing class has no size
      {6, 3 + 3}, {7, 14 / 4 + 3}, {8, 24 / 4 + 3},
  };
  for (auto &c : cases)
    EXPECT_EQ(d->size_of(d->find(c.serial)), c.words) << c.serial;
  EXPECT_EQ(static_cast<KlassEntry *>(d->find(3))->size_instance, 0u) << "a negative size reads as 0";
}

TEST_F(Model, VersionOneDividesInstanceSizesAndFindsArrayClasses) {
  HeapDumpData *d = read({"header version=1\n"
                          "class id=0x150 isize=16\nclass id=0x160 isize=8\n"
                          "instance id=0x1000 class=0x150 values=0x1030\n"
                          "instance id=0x1010 class=0x160 values=0x1030\n"
                          "primarray id=0x1030 type=8 length=4\n"
                          "primarray id=0x1040 type=8 length=4\n"},
                         DETECT_TOTAL);
  EXPECT_EQ(static_cast<KlassEntry *>(d->find(1))->size_instance, 4u);
  EXPECT_EQ(d->find(5)->klass, 2u) << "the last holder in object-table order";
  EXPECT_EQ(d->find(6)->klass, 0u) << "nothing holds it";
  EXPECT_EQ(d->class_name(d->find(6)), nullptr);
}

TEST_F(Model, OldPrimitiveArraysAreDroppedWhenDetecting) {
  const std::string first = std::string(kHeader) + "age 3\nprimarray age=3 id=0x1000 class=0 type=8 length=1\n"
                                                   "primarray age=4 id=0x1008 class=0 type=8 length=1\n";
  const std::string last = std::string(kHeader) + "age 5\nprimarray age=2 id=0x1000 class=0 type=8 length=1\n"
                                                  "primarray age=5 id=0x1008 class=0 type=8 length=1\n"
                                                  "instance id=0x2000 class=0 values=0x1000,0x1008\n";
  HeapDumpData *d = read({first, last}, DETECT_TOTAL);
  EXPECT_EQ(d->record_count, 3) << "dropped arrays are still counted";
  EXPECT_EQ(order(d).size(), 2u);
  InstanceEntry *h = static_cast<InstanceEntry *>(d->find(2));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->refs[0], 0u) << "a dropped array is no object";
  EXPECT_NE(h->refs[1], 0u);
  EXPECT_EQ(order(set->data[0].get()).size(), 1u) << "the first dump drops by its own age too";

  d = read({first, last}, 0);
  EXPECT_EQ(order(d).size(), 3u) << "nothing is dropped without detection";
}

// Records what a walk visits, and its result.
class Trace : public Visitor {
public:
  std::string seen;
  bool quiet = false;
  bool enter(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) override {
    if (n->flags & FLAG_VISIT)
      return false;
    n->flags |= FLAG_VISIT;
    return true;
  }
  bool visit(HeapDumpData *, EntryBase *n, int depth, EntryBase *h, int slot, long *r) override {
    *r = 1;
    if (quiet)
      return true;
    seen += std::to_string(n->serial) + "@" + std::to_string(depth) + "<" + std::to_string(h ? h->serial : 0) + ":" +
            std::to_string(slot) + " ";
    *r = 1;
    return true;
  }
  void leave(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) override {
    if (!quiet)
      seen += "/" + std::to_string(n->serial) + " ";
  }
};

TEST_F(Model, TraverseVisitsInSlotOrderThenTheClassLinks) {
  HeapDumpData *d = read({std::string(kHeader) +
                          "class id=0x150 super=0x160 loader=0x1010 domain=0x1020 statics=0:0:2:0x1000\n"
                          "class id=0x160\n"
                          "instance id=0x1000 class=0x160 values=0x1010,0x1000\n"
                          "instance id=0x1010 class=0x160\n"
                          "instance id=0x1020 class=0x160\n"});
  Trace t;
  d->clear_marks();
  long r = d->find(1)->traverse(d, &t, -1, nullptr, -1);
  EXPECT_EQ(t.seen, "1@-1<0:-1 3@0<1:0 4@1<3:0 /4 /3 5@0<1:-1 /5 /1 ");
  EXPECT_EQ(r, 4) << "each node's result adds up the walk below it";
}

TEST_F(Model, FieldsOfReferencesAndWeakMaps) {
  HeapDumpData *d = read({std::string(kHeader) +
                          "name id=0x10 text=java/util/WeakHashMap\nname id=0x11 text=LX;\nname id=0x12 text=table\n"
                          "name id=0x13 text=S\nname id=0x14 text=INSTANCE\n"
                          "class id=0x150 name=0x10 fields=0x11:0x12\n"
                          "class id=0x160 name=0x13 statics=0x11:0x14:2:0x1000\n"
                          "instance id=0x1000 class=0x150 values=0\n"
                          "objarray id=0x1010 class=0x160 elements=0x1000\n"});
  const char *k, *sig, *name;
  d->field_of_reference(3, 0, false, &k, &sig, &name);
  EXPECT_STREQ(k, "java/util/WeakHashMap");
  EXPECT_STREQ(sig, "LX;");
  EXPECT_STREQ(name, "table");
  d->field_of_reference(2, 0, false, &k, &sig, &name);
  EXPECT_STREQ(name, "INSTANCE");
  d->field_of_reference(4, 0, false, &k, &sig, &name);
  EXPECT_STREQ(k, "S");
  EXPECT_EQ(name, nullptr) << "array elements have no field";
  d->field_of_reference(3, 0, true, &k, &sig, &name);
  EXPECT_STREQ(k, "(StComp)");
  EXPECT_TRUE(d->is_weak_map(d->find(3)));
  EXPECT_TRUE(d->is_weak_map(d->find(1))) << "a class object's class name is its own";
  EXPECT_FALSE(d->is_weak_map(d->find(2)));
}

TEST_F(Model, ComponentsAndTheirNumbers) {
  // 1<->2 (and 3 holds both), 4->4 alone, 5<->6<->7 a ring of three,
  // 8<->9 another pair found after the ring.
  HeapDumpData *d = read({std::string(kHeader) +
                          "instance id=0x10 values=0x18,0x38\n"
                          "instance id=0x18 values=0x10\n"
                          "instance id=0x20 values=0x10,0x18\n"
                          "instance id=0x28 values=0x28\n"
                          "instance id=0x30 values=0x38\n"
                          "instance id=0x38 values=0x40\n"
                          "instance id=0x40 values=0x30\n"
                          "instance id=0x48 values=0x50\n"
                          "instance id=0x50 values=0x48\n"
                          "primarray id=0x58 class=0 type=8 length=1\n"});
  std::unique_ptr<StrongComponentSet> cs(StrongComponentSet::build(d, true));
  ASSERT_EQ(cs->size, 4);
  EXPECT_EQ(cs->table[0], nullptr);
  StrongComponent *ring = cs->component(1);
  EXPECT_EQ(ring->member_count, 3u);
  EXPECT_EQ(ring->members[0]->serial, 5u);
  // Equal sizes: the Shell sort keeps the pair found first ahead, so the
  // later one takes the smaller number.
  EXPECT_EQ(cs->component(2)->min_member_serial, 8u);
  StrongComponent *pair = cs->component(3);
  EXPECT_EQ(pair->min_member_serial, 1u);
  EXPECT_EQ(pair->ref_slot_count, 3u);
  EXPECT_EQ(pair->ext_count, 1u);
  EXPECT_EQ(pair->ext_refs[0], 6u) << "what the pair holds outside itself";
  EXPECT_EQ(pair->ext_refs[1], 0u);
  EXPECT_EQ(d->find(1)->component(), 3u);
  EXPECT_EQ(d->find(3)->component(), 0u) << "holding both does not join";
  EXPECT_EQ(d->find(4)->component(), 0u) << "a self reference is no component";
  EXPECT_EQ(pair->serial, d->max_serial - 1) << "components take serials after the objects";
  EXPECT_TRUE(ring->is_member(6));
  EXPECT_FALSE(ring->is_member(4));
}

TEST_F(Model, NumbersFrom4095OnShareOneValue) {
  std::string text = kHeader;
  for (int i = 0; i < 4100; ++i) {
    char line[128];
    snprintf(line, sizeof line, "instance id=%#x values=%#x\ninstance id=%#x values=%#x\n", 0x1000 + i * 16,
             0x1008 + i * 16, 0x1008 + i * 16, 0x1000 + i * 16);
    text += line;
  }
  HeapDumpData *d = read({text});
  std::unique_ptr<StrongComponentSet> cs(StrongComponentSet::build(d, false));
  ASSERT_EQ(cs->size, 4101);
  EXPECT_EQ(cs->component(4094)->members[0]->component(), 4094u);
  EXPECT_EQ(cs->component(4095)->members[0]->component(), 4095u);
  EXPECT_EQ(cs->component(4100)->members[1]->component(), 4095u);
  EXPECT_EQ(cs->component(4100)->number, 4100u);
}

TEST_F(Model, AChainOfAMillionNeedsNoDeepStack) {
  // Written record by record: one long chain closed into a ring.
  HdWriter w;
  HdHeader h;
  hd_header(&w, h);
  hd_class(&w, HdClass{});
  const uint32_t n = 1000000;
  for (uint32_t i = 0; i < n; ++i)
    hd_instance(&w, 1, 0x1000 + i * 8ull, 0, {0x1000 + ((i + 1) % n) * 8ull});
  hd_root(&w, HD_ROOT_JNI_GLOBAL, 0x1000, 1);
  files = {s.path("chain")};
  ASSERT_TRUE(hd_save(w, files[0]));
  names = {files[0].c_str()};
  set.reset(new HeapDumpDataSet(1));
  read_dump(set.get(), 0, names, ReadOptions());
  HeapDumpData *d = set->data[0].get();
  std::unique_ptr<ClassSizeInfo> info(ClassSizeInfo::build_from_records(d, false));
  EXPECT_EQ(info->count, 2);
  Trace t;
  t.quiet = true;
  d->clear_marks();
  EXPECT_EQ(d->find(2)->traverse(d, &t, -1, nullptr, -1), static_cast<long>(n));
  std::unique_ptr<StrongComponentSet> cs(StrongComponentSet::build(d, false));
  ASSERT_EQ(cs->size, 2);
  EXPECT_EQ(cs->component(1)->member_count, n);
}

} // namespace

namespace {

TEST_F(Model, TheDifferenceTableStopsAtTheFirstRowWithoutAState) {
  HeapDumpData *d = read({std::string(kHeader) + "name id=0x10 text=Grows\nclass id=0x150 name=0x10\n"});
  std::unique_ptr<ClassSizeInfo> info(ClassSizeInfo::empty(4, d));
  ClassSizeEntry rows[4];
  rows[0].state = 0; // listed last: ends the listing
  rows[1] = {ROW_CLASS, 0x77, -1, 0, 9, 0, 3.0, BS_LARGE};
  rows[2] = {ROW_INSTANCE, 1, NameTable::instance().find("Grows", 5), 0, 50, 0, 2.5, BS_LARGE};
  rows[3] = {ROW_CLASS, 1, NameTable::instance().find("Grows", 5), 0, 20, 0, 1.0, BS_LARGE};
  for (int i = 0; i < 4; ++i)
    info->rows[static_cast<size_t>(i)] = rows[i];
  std::string path = s.path("diff.txt");
  FILE *out = fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  info->write_difference_table(d, out);
  fclose(out);
  EXPECT_EQ(tk_read_text(path), "**** Difference among all dumpdata ****\n"
                                "          Size   Weight Typ Class\n"
                                "[  1]       20        1 (C) Grows\n"
                                "[  2]       50      2.5 (I) Grows\n"
                                "[  3]        3 9{vanished...}\n"
                                "\n");
}

} // namespace
