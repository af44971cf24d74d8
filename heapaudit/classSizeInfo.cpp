#include "classSizeInfo.h"

#include "heapDumpData.h"
#include "shellSort.h"
#include "utils.h"

namespace {

uint64_t fs_key(int32_t name, uint32_t kind) { return static_cast<uint64_t>(static_cast<uint32_t>(name)) << 2 | kind; }

// Counts each object the roots reach once.
class CountVisitor : public Visitor {
public:
  CountVisitor(ClassSizeInfo *info, bool only_class) : info_(info), only_class_(only_class) {}
  bool enter(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) override {
    if (n->flags & FLAG_VISIT)
      return false;
    n->flags |= FLAG_VISIT;
    return true;
  }
  bool visit(HeapDumpData *d, EntryBase *n, int, EntryBase *, int, long *) override {
    if (n->kind() == KIND_KLASS || !n->isObject())
      return true;
    KlassEntry *k = d->class_of(n);
    if (!k || (only_class_ && !(n->flags & FLAG_PERM)))
      return true;
    info_->add(k->serial, k->size_instance, 1, ROW_INSTANCE);
    return true;
  }
  void leave(HeapDumpData *, EntryBase *, int, EntryBase *, int, long *) override {}

private:
  ClassSizeInfo *info_;
  bool only_class_;
};

} // namespace

ClassSizeEntry *ClassSizeInfo::find_row(uint32_t klass, uint32_t row_kind) {
  EntryBase *k = dump->find(klass);
  if (!k)
    return nullptr;
  int32_t name = dump->class_name_index(k);
  if (name < 0)
    return nullptr;
  auto it = index_.find(fs_key(name, row_kind));
  return it == index_.end() ? nullptr : &rows[static_cast<size_t>(it->second)];
}

void ClassSizeInfo::append(const ClassSizeEntry &row) {
  if (row.name_index >= 0)
    index_.emplace(fs_key(row.name_index, row.row_kind), static_cast<int32_t>(rows.size()));
  rows.push_back(row);
  count = static_cast<int32_t>(rows.size());
}

void ClassSizeInfo::add(uint32_t klass, uint32_t words, uint32_t objects, uint32_t row_kind) {
  if (ClassSizeEntry *r = find_row(klass, row_kind)) {
    r->total_words += words;
    r->object_count += objects;
  }
}

void ClassSizeInfo::rows_from_classes() {
  size_t room = 2 * static_cast<size_t>(dump->klass_count > 0 ? dump->klass_count : 0);
  rows.reserve(room);
  Utils::message(5, "ClassSizeInfo:: num_klass: %d\n", static_cast<int>(room));
  Utils::message(3, "ClassSizeInfo:: inner_serial_table_size: %d\n", static_cast<int>(OBJECT_TABLE_SIZE));
  dump->for_each_object([this](EntryBase *n) {
    if (n->kind() != KIND_KLASS || !n->isObject())
      return;
    KlassEntry *k = static_cast<KlassEntry *>(n);
    int32_t age = static_cast<int32_t>(k->age());
    uint32_t size = dump->klass_size(k);
    if (ClassSizeEntry *c = find_row(k->serial, ROW_CLASS)) {
      ClassSizeEntry *i = find_row(k->serial, ROW_INSTANCE);
      if (age < c->age)
        c->age = age;
      if (i && age < i->age)
        i->age = age;
      c->total_words += size;
      c->object_count += 1;
      return;
    }
    int32_t name = dump->class_name_index(k);
    for (uint32_t kind : {ROW_CLASS, ROW_INSTANCE}) {
      ClassSizeEntry r;
      r.row_kind = kind;
      r.klass = k->serial;
      r.age = age;
      r.name_index = name;
      r.state = 0;
      r.total_words = kind == ROW_CLASS ? size : 0;
      r.object_count = kind == ROW_CLASS ? 1 : 0;
      if (name >= 0)
        index_.emplace(fs_key(name, kind), static_cast<int32_t>(rows.size()));
      rows.push_back(r);
    }
  });
  count = static_cast<int32_t>(rows.size());
}

ClassSizeInfo *ClassSizeInfo::build_by_walking(HeapDumpData *d, bool only_class, bool toi) {
  ClassSizeInfo *info = new ClassSizeInfo;
  info->dump = d;
  d->clear_marks();
  Utils::message(1, "==> Collect total instance number of each class\n");
  info->rows_from_classes();
  CountVisitor v(info, only_class);
  walk_roots(d, &v);
  info->sort();
  if (toi)
    info->write_class_size_table();
  Utils::message(1, "..... done\n");
  return info;
}

ClassSizeInfo *ClassSizeInfo::build_from_records(HeapDumpData *d, bool toi) {
  ClassSizeInfo *info = new ClassSizeInfo;
  info->dump = d;
  d->clear_marks();
  Utils::message(1, "==> Collect total instance number of each class from summary type dump\n");
  info->rows_from_classes();
  for (const KlassSizeRecord &k : d->klass_sizes)
    if (d->find(k.klass))
      info->add(k.klass, k.total_words, k.instance_count, ROW_INSTANCE);
  info->sort();
  if (toi)
    info->write_class_size_table();
  Utils::message(1, "..... done\n");
  return info;
}

ClassSizeInfo *ClassSizeInfo::empty(int32_t n, HeapDumpData *d) {
  ClassSizeInfo *info = new ClassSizeInfo;
  info->dump = d;
  info->rows.assign(static_cast<size_t>(n > 0 ? n : 0), ClassSizeEntry());
  info->count = n > 0 ? n : 0;
  return info;
}

void ClassSizeInfo::sort() {
  shell_sort(rows.data(), count, [](const ClassSizeEntry &r) { return r.total_words; });
  index_.clear();
  for (int32_t i = 0; i < count; ++i)
    if (rows[static_cast<size_t>(i)].name_index >= 0)
      index_.emplace(fs_key(rows[static_cast<size_t>(i)].name_index, rows[static_cast<size_t>(i)].row_kind), i);
}

void ClassSizeInfo::write_class_size_table() {
  FILE *out = Utils::open_resultfile();
  Utils::output2file(out, "****************** Class size info ****************\n");
  Utils::output2file(out, "         Count word/obj Total wd Typ Class\n");
  Utils::output2file(out, "---------------------------------------------------\n");
  double words = 0;
  long objects = 0;
  int n = 1;
  for (int32_t i = count - 1; i >= 0; --i, ++n) {
    ClassSizeEntry &r = rows[static_cast<size_t>(i)];
    EntryBase *k = dump->find(r.klass);
    uint32_t per = 0;
    if (k && k->kind() == KIND_KLASS && k->isObject())
      per = r.row_kind == ROW_CLASS ? dump->klass_size(static_cast<KlassEntry *>(k))
                                    : static_cast<KlassEntry *>(k)->size_instance;
    const char *name = NameTable::instance().text(r.name_index);
    Utils::output2file(out, "[%3d] %8d %8u %8u (%s) %s\n", n, static_cast<int>(r.object_count), per, r.total_words,
                       r.row_kind == ROW_CLASS ? "C" : "I", name ? name : "(null)");
    if (k && k->age() > dump->current_age)
      Utils::output2file(out, "INVALID age (%u)\n", k->age());
    words += r.total_words;
    objects += r.object_count;
  }
  Utils::output2file(out, "Used heap size: %8.2lf MBytes (%ld objects)\n", word_size * words / 1048576.0, objects);
  Utils::close_resultfile(out);
}

void ClassSizeInfo::write_difference_table(HeapDumpData *d, FILE *given) {
  FILE *out = given ? given : Utils::open_resultfile();
  Utils::output2file(out, "**** Difference among all dumpdata ****\n");
  Utils::output2file(out, "          Size   Weight Typ Class\n");
  int n = 1;
  for (int32_t i = count - 1; i >= 0; --i, ++n) {
    ClassSizeEntry &r = rows[static_cast<size_t>(i)];
    if (r.state < ONLY_SRC || r.state > BS_LARGE)
      break;
    if (d->find(r.klass)) {
      const char *name = NameTable::instance().text(r.name_index);
      Utils::output2file(out, "[%3d] %8d %8g (%s) %s\n", n, static_cast<int>(r.total_words), r.weight,
                         r.row_kind == ROW_CLASS ? "C" : "I", name ? name : "(null)");
    } else {
      Utils::output2file(out, "[%3d] %8g %d{vanished...}\n", n, r.weight, static_cast<int>(r.total_words));
    }
  }
  Utils::output2file(out, "\n");
  if (!given)
    Utils::close_resultfile(out);
}

HeapDumpDataSet::~HeapDumpDataSet() {
  for (ClassSizeInfo *c : class_size_info)
    delete c;
}
