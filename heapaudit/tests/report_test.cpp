// Leak object sets, the collecting walk, the ranking and the reports, on
// small heaps written by the dump writer.
#include "dump_fixture.h"
#include "heapAudit.h"
#include "heapAuditTable.h"
#include "leakCandidate.h"
#include "leakObjectArray.h"
#include "strongComponent.h"

namespace {

using Sets = DumpFixture;

TEST_F(Sets, ListsTurnIntoBitmapsPast251WithTheSameContent) {
  std::string text = "header\nname id=0x10 text=L\nclass id=0x200 name=0x10\n";
  for (int i = 0; i < 300; ++i)
    text += "instance id=" + std::to_string(0x1000 + i * 8) + " class=0x200\n";
  HeapDumpData *d = read({text});
  std::unique_ptr<ClassSizeInfo> list(ClassSizeInfo::empty(0, d));
  ClassSizeEntry row;
  row.row_kind = ROW_INSTANCE;
  row.klass = 1;
  row.name_index = d->class_name_index(d->find(1));
  row.weight = 2.0;
  row.state = BS_LARGE;
  list->append(row);
  LeakObjectArray a;
  for (uint32_t s = 2; s < 2 + 251; ++s)
    a.add(d, s);
  EXPECT_EQ(a.kind, LeakObjectArray::LIST);
  EXPECT_EQ(a.get_weight(d, list.get(), nullptr), 502.0);
  a.add(d, 2 + 251);
  EXPECT_EQ(a.kind, LeakObjectArray::BITMAP) << "the 252nd element";
  EXPECT_EQ(a.size(), 252u);
  EXPECT_TRUE(a.contains(2));
  EXPECT_TRUE(a.contains(253));
  EXPECT_FALSE(a.contains(254));
  EXPECT_EQ(a.get_weight(d, list.get(), nullptr), 504.0);
  a.add(d, 253);
  EXPECT_EQ(a.size(), 252u) << "adding again changes nothing";

  // Unions: two lists stay a list while they fit; a list and a bitmap
  // give a bitmap; copies are independent.
  LeakObjectArray x, y;
  x.add(d, 9);
  y.add(d, 5);
  std::unique_ptr<LeakObjectArray> z(x.copy());
  z->unite(d, &y);
  EXPECT_EQ(z->kind, LeakObjectArray::LIST);
  std::vector<uint32_t> seen;
  z->for_each([&](uint32_t s) { seen.push_back(s); });
  EXPECT_EQ(seen, (std::vector<uint32_t>{5, 9}));
  EXPECT_EQ(x.size(), 1u);
  z->unite(d, &a);
  EXPECT_EQ(z->kind, LeakObjectArray::BITMAP);
  EXPECT_EQ(z->size(), 252u);
  EXPECT_TRUE(z->contains(2)) << "5 and 9 were in a already";
}

// The first dump (age 1) and the newest (age 2) of a heap where class L
// grows; objects of age 2 are young.
struct Report : DumpFixture {
  std::string out;
  std::string run(const std::string &first, const std::string &last, int kinds, bool detail = false) {
    read({first, last}, kinds);
    std::unique_ptr<StrongComponentSet> cs(StrongComponentSet::build(set->data.back().get(), false));
    out = s.path("report.txt");
    remove(out.c_str()); // the result file is appended to
    Utils::result_file = out.c_str();
    DetectOptions o;
    o.detect_kind = kinds;
    o.detail = detail;
    detect_leaks(set.get(), cs.get(), o);
    Utils::result_file = nullptr;
    return tk_read_text(out);
  }
};

const char kNames[] = "name id=0x10 text=L\nname id=0x11 text=Holder\nname id=0x12 text=Ljava/lang/Object;\n"
                      "name id=0x13 text=items\nname id=0x14 text=java/util/HashMap\n"
                      "name id=0x15 text=java/util/HashMap$Entry\nname id=0x16 text=[Ljava/util/HashMap$Entry;\n"
                      "name id=0x17 text=value\nname id=0x18 text=table\nname id=0x19 text=java/util/WeakHashMap\n"
                      "name id=0x1a text=[Ljava/lang/Object;\nname id=0x1b text=run\nname id=0x1c text=App\n";
const char kClasses[] = "class id=0x200 name=0x10 isize=4\n"
                        "class id=0x208 name=0x11 isize=3 fields=0x12:0x13,0x12:0x17\n"
                        "class id=0x210 name=0x14 isize=3 fields=0x12:0x18\n"
                        "class id=0x218 name=0x15 isize=3 fields=0x12:0x17,0x12:0x13\n"
                        "class id=0x220 name=0x16 isize=3\n"
                        "class id=0x228 name=0x19 isize=3 fields=0x12:0x18\n"
                        "class id=0x230 name=0x1a isize=3\n"
                        "class id=0x238 name=0x1c isize=3 fields=0x12:0x13\n";

std::string first(int words) {
  return std::string("header time=2009-04-20T01:20:10\nage 1\n") + kNames + kClasses +
         "sizes list=0x200:1:" + std::to_string(words) + "\n";
}
std::string last(int words, const std::string &objects) {
  return std::string("header time=2009-04-20T01:20:20\nage 2\n") + kNames + kClasses +
         "sizes list=0x200:3:" + std::to_string(words) + "\n" + objects;
}

TEST_F(Report, AStaticMapLeaksThroughItsEntries) {
  // root Holder -> HashMap -> table [HashMap$Entry -> HashMap$Entry ->
  // young L; the second entry reached through the first one's next.
  std::string r = run(first(4), last(12, "instance age=1 id=0x1000 class=0x208 values=0x1008,0\n"
                                         "instance age=1 id=0x1008 class=0x210 values=0x1010\n"
                                         "objarray age=1 id=0x1010 class=0x220 elements=0x1018\n"
                                         "instance age=2 id=0x1018 class=0x218 values=0x1030,0x1020\n"
                                         "instance age=2 id=0x1020 class=0x218 values=0x1028,0\n"
                                         "instance age=2 id=0x1028 class=0x200\n"
                                         "instance age=2 id=0x1030 class=0x200\n"
                                         "root kind=jni_global obj=0x1000 other=1\n"),
                      DETECT_TOTAL | DETECT_DIFF, true);
  // The entries and the table array give their weight away (leaves,
  // held by arrays only, hash entries behind the map); what stays is the
  // map's field in Holder and the root. A global root names no class.
  // Equal keys: the deeper entry ranks higher.
  EXPECT_EQ(r, "**** Difference among all dumpdata ****\n"
               "          Size   Weight Typ Class\n"
               "[  1]        8        1 (I) L\n"
               "\n"
               "##################################\n"
               "# Memory leak detect kind: TOTAL #\n"
               "##################################\n"
               "\n***** Output LeakDetction Result *****\n"
               "[    1] score: 50.00\t [C] Holder [F] (Ljava/lang/Object;)items (type:instance)\n"
               "  [successor]\n"
               "  -> 100.0%       2 (I) L\n"
               "\n"
               "[    2] score: 50.00\t [C] (null) [M] (null) (line:0) ROOT\n"
               "  [successor]\n"
               "  -> 100.0%       2 (I) L\n"
               "\n"
               "\n"
               "##################################\n"
               "# Memory leak detect kind: DIFF  #\n"
               "##################################\n"
               "\n***** Output LeakDetction Result *****\n"
               "\n")
      << "no holder adds anything beyond its heaviest child";
}

TEST_F(Report, AnEntrysExcessMovesToTheMap) {
  // The second entry of a chain holds two young L: its excess (2 - 1)
  // goes past the first entry and the table to the map's entry.
  std::string r = run(first(4), last(12, "instance age=1 id=0x1000 class=0x208 values=0x1008,0\n"
                                         "instance age=1 id=0x1008 class=0x210 values=0x1010\n"
                                         "objarray age=1 id=0x1010 class=0x220 elements=0x1018\n"
                                         "instance age=2 id=0x1018 class=0x218 values=0,0x1020\n"
                                         "instance age=2 id=0x1020 class=0x218 values=0x1028,0x1030\n"
                                         "instance age=2 id=0x1028 class=0x200\n"
                                         "instance age=2 id=0x1030 class=0x200\n"
                                         "root kind=jni_global obj=0x1000 other=1\n"),
                      DETECT_DIFF);
  EXPECT_NE(r.find("\n***** Output LeakDetction Result *****\n"
                   "[    1] score:100.00\t [C] Holder [F] (Ljava/lang/Object;)items (type:instance)\n\n"),
            std::string::npos)
      << r;
}

TEST_F(Report, TheSameFieldOfTheSameClassIsReportedOnce) {
  // Two App roots, each App.items -> Holder, each Holder.items -> young L.
  std::string r = run(first(4), last(12, "instance age=1 id=0x1000 class=0x238 values=0x1010\n"
                                         "instance age=1 id=0x1008 class=0x238 values=0x1018\n"
                                         "instance age=1 id=0x1010 class=0x208 values=0x1020,0\n"
                                         "instance age=1 id=0x1018 class=0x208 values=0x1028,0\n"
                                         "instance age=2 id=0x1020 class=0x200\n"
                                         "instance age=2 id=0x1028 class=0x200\n"
                                         "root kind=jni_global obj=0x1000 other=1\n"
                                         "root kind=jni_global obj=0x1008 other=1\n"),
                      DETECT_TOTAL);
  EXPECT_NE(r.find("\n***** Output LeakDetction Result *****\n"
                   "[    1] score: 50.00\t [C] App [F] (Ljava/lang/Object;)items (type:instance)\n"
                   "[    2] score: 50.00\t [C] (null) [M] (null) (line:0) ROOT\n\n"),
            std::string::npos)
      << r;
}

TEST_F(Report, WeakMapsHideWhatTheyHold) {
  // root App -> WeakHashMap -> young L; App also holds an Object[] ->
  // young L2 (another L).
  std::string r = run(first(4), last(12, "instance age=1 id=0x1000 class=0x238\n"
                                         "instance age=1 id=0x1008 class=0x228 values=0x1010\n"
                                         "instance age=2 id=0x1010 class=0x200\n"
                                         "instance age=1 id=0x1018 class=0x208 values=0x1020,0x1008\n"
                                         "objarray age=1 id=0x1020 class=0x230 elements=0x1028\n"
                                         "instance age=2 id=0x1028 class=0x200\n"
                                         "root kind=jni_global obj=0x1018 other=1\n"),
                      DETECT_TOTAL, true);
  // Only the array's young L counts below the holder; the array passes
  // its excess up and is not shown itself.
  EXPECT_NE(r.find("[    1] score:100.00\t [C] (null) [M] (null) (line:0) ROOT\n"
                   "  [successor]\n"
                   "  -> 100.0%       1 (I) L\n"),
            std::string::npos)
      << r;
  EXPECT_EQ(r.find("[    2]"), std::string::npos) << r;
}

TEST_F(Report, RootsWithFramesAndScores) {
  // Three roots with 3, 2 and 1 young L below (keys 3, 2, 1 of 6): one a
  // Java frame with a trace, one a frame beyond its trace, one global.
  std::string objs;
  int id = 0x2000;
  auto young = [&](int n) {
    std::string ids;
    for (int i = 0; i < n; ++i) {
      objs += "instance age=2 id=" + std::to_string(id) + " class=0x200\n";
      ids += (ids.empty() ? "" : ",") + std::to_string(id);
      id += 8;
    }
    return ids;
  };
  std::string a = young(3), b = young(2), c = young(1);
  // Roots of three classes (roots of one class without holder would
  // count as the same data); arrays pass their excess to their holders.
  objs += "objarray age=1 id=0x1000 class=0x230 elements=" + a + "\n";
  objs += "objarray age=1 id=0x1008 class=0x230 elements=" + b + "\n";
  objs += "instance age=1 id=0x1100 class=0x208 values=0x1000,0\n";
  objs += "instance age=1 id=0x1108 class=0x238 values=0x1008\n";
  objs += "instance age=1 id=0x1110 class=0x210 values=" + c + "\n";
  objs += "root kind=java_frame obj=0x1100 other=0x77 frame=1\n";
  objs += "root kind=java_frame obj=0x1108 other=0x77 frame=5\n";
  objs += "root kind=jni_global obj=0x1110 other=1\n";
  objs += "method id=0x900 class=0x238 name=0x1b\ntrace env=0x77 frames=42:0x900\n";
  std::string r = run(first(4), last(40, objs), DETECT_TOTAL);
  EXPECT_NE(r.find("\n***** Output LeakDetction Result *****\n"
                   "[    1] score: 50.00\t [C] App [M] run (line:42) ROOT\n"
                   "[    2] score: 33.33\t [C] (null) [M] (null) (line:0) ROOT\n"
                   "[    3] score: 16.67\t [C] (null) [M] (null) (line:0) ROOT\n\n"),
            std::string::npos)
      << r;
}

TEST_F(Report, ClassReferencesThroughAnotherLoader) {
  // Class L loaded twice (loaders 0x3000 and 0x3008); the second copy is
  // held by a static field of class Holder and by its own loader.
  std::string objs = "instance age=1 id=0x3000 class=0x238\ninstance age=1 id=0x3008 class=0x238\n"
                     "class id=0x240 name=0x10 loader=0x3008 isize=4\n"
                     "class id=0x248 name=0x11 loader=0x3000 statics=0x12:0x17:2:0x240\n"
                     "instance age=1 id=0x3010 class=0x238 values=0x3008\n"
                     "root kind=sticky_class obj=0x248\nroot kind=jni_global obj=0x3010 other=1\n";
  std::string r = run(first(4), last(12, objs), DETECT_CLASS);
  EXPECT_NE(r.find("# Memory leak detect kind: CLASS REF        #\n"), std::string::npos);
  EXPECT_NE(r.find("***** Multi Class Information (MultiKlassEntry version) *****\n[  0] num:   2 class name: L\n"),
            std::string::npos)
      << r;
  EXPECT_NE(r.find("  [id:      11] (loader:      10)\n"
                   "    <-12 Type:20 Class:Holder FSig:Ljava/lang/Object; FName:value STATIC\n"),
            std::string::npos)
      << r;
}

} // namespace

namespace {

TEST_F(Report, ClassReferenceChains) {
  // Every class name once: the banner and the heading only.
  std::string r = run(first(4), first(4), DETECT_CLASS);
  EXPECT_EQ(r, "#############################################\n"
               "# Memory leak detect kind: CLASS REF        #\n"
               "#############################################\n"
               "\n***** Multi Class Information (MultiKlassEntry version) *****\n"
               "\n");
  // L three times: the first unreachable, L1 held only by its own loader
  // (nothing shown), L2 held by an array that two objects hold (one link).
  r = run(first(4), last(12, "instance age=1 id=0x3000 class=0x238 values=0x240\n"
                             "instance age=1 id=0x3008 class=0x238 values=0\n"
                             "class id=0x240 name=0x10 loader=0x3000 isize=4\n"
                             "class id=0x248 name=0x10 loader=0x3008 isize=4\n"
                             "objarray age=1 id=0x3010 class=0x230 elements=0x248\n"
                             "instance age=1 id=0x3018 class=0x238 values=0x3010\n"
                             "instance age=1 id=0x3020 class=0x238 values=0x3010\n"
                             "root kind=jni_global obj=0x3000 other=1\nroot kind=jni_global obj=0x3008 other=1\n"
                             "root kind=jni_global obj=0x3018 other=1\nroot kind=jni_global obj=0x3020 other=1\n"),
          DETECT_CLASS);
  EXPECT_EQ(r, "#############################################\n"
               "# Memory leak detect kind: CLASS REF        #\n"
               "#############################################\n"
               "\n***** Multi Class Information (MultiKlassEntry version) *****\n"
               "[  0] num:   3 class name: L\n"
               "  [id:      12] (loader:      10)\n"
               "    <-13 Type:22 Class:[Ljava/lang/Object; FSig:(null) FName:(null) OBJ ARRAY ELEMENT\n"
               "\n");
}

TEST_F(Report, AChainStopsAtARingOfSingleHolders) {
  // A root inside a cycle: L2 <- A <- B <- A ... each with one holder.
  std::string r = run(first(4), last(12, "class id=0x248 name=0x10 isize=4\n"
                                         "instance age=1 id=0x3000 class=0x238 values=0x3008\n"
                                         "instance age=1 id=0x3008 class=0x208 values=0x3000,0x248\n"
                                         "root kind=jni_global obj=0x3000 other=1\n"),
                      DETECT_CLASS);
  EXPECT_NE(r.find("  [id:       9] (loader:       0)\n"
                   "    <-11 Type:21 Class:Holder FSig:Ljava/lang/Object; FName:value INSTANCE\n"
                   "      <-10 Type:21 Class:App FSig:Ljava/lang/Object; FName:items INSTANCE\n"
                   "\n"),
            std::string::npos)
      << r;
}

} // namespace
