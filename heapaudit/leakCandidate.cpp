#include "leakCandidate.h"

#include <algorithm>
#include <cmath>

#include "classSizeInfo.h"
#include "heapDumpData.h"
#include "strongComponent.h"
#include "utils.h"

// --- leak classes ---

namespace {

// The first row of info with that name and row kind.
ClassSizeEntry *fs_rowByName(ClassSizeInfo *info, int32_t name, uint32_t kind) {
  for (int32_t i = 0; i < info->count; ++i) {
    ClassSizeEntry &r = info->rows[static_cast<size_t>(i)];
    if (r.name_index == name && r.row_kind == kind)
      return &r;
  }
  return nullptr;
}

} // namespace

ClassSizeInfo *resolve_leak_classes(HeapDumpDataSet *set, bool only_class) {
  const int n = set->count;
  ClassSizeInfo *last = set->class_size_info[static_cast<size_t>(n - 1)];
  ClassSizeInfo *list = ClassSizeInfo::empty(0, set->data.back().get());
  list->rows.reserve(static_cast<size_t>(last->count));
  std::vector<double> y(static_cast<size_t>(n) + 1);
  for (int32_t r = 0; r < last->count; ++r) {
    const ClassSizeEntry &R = last->rows[static_cast<size_t>(r)];
    if (only_class && R.row_kind != ROW_CLASS)
      continue;
    const char *name = NameTable::instance().text(R.name_index);
    Utils::message(5, "[ResolveLeakKlass] class: %s\n", name ? name : "(null)");
    bool all = true;
    for (int i = 0; i + 1 < n && all; ++i) {
      ClassSizeEntry *e = fs_rowByName(set->class_size_info[static_cast<size_t>(i)], R.name_index, R.row_kind);
      if (!e) {
        Utils::message(2, "->not contain all dump data (base age:%d src_age: null)\n", R.age);
        all = false;
      } else if (e->age != R.age) {
        Utils::message(2, "->not contain all dump data (base age:%d src_age:%d)\n", R.age, e->age);
        all = false;
      } else {
        y[static_cast<size_t>(i) + 1] = e->total_words;
      }
    }
    if (!all)
      continue;
    y[static_cast<size_t>(n)] = R.total_words;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int k = 1; k <= n; ++k) {
      sx += k;
      sy += y[static_cast<size_t>(k)];
      sxx += static_cast<double>(k) * k;
      sxy += k * y[static_cast<size_t>(k)];
    }
    double slope = (sxy - sy * sx / n) / (sxx - sx * sx / n);
    double g = slope > 0 ? std::ceil(slope) : slope < 0 ? std::floor(slope) : 0;
    if (std::isnan(g))
      g = 0;
    if (g > 0) {
      ClassSizeEntry c = R;
      c.total_words = g > 4294967295.0 ? 4294967295u : static_cast<uint32_t>(g);
      c.object_count = 0;
      c.weight = 0.0;
      c.state = BS_LARGE;
      list->rows.push_back(c);
      Utils::message(5, "->leak candidate klass\n");
    } else {
      Utils::message(5, "->not leak candidate klass\n");
    }
  }
  list->count = static_cast<int32_t>(list->rows.size());
  list->sort();
  return list;
}

void set_class_weights(ClassSizeInfo *list) {
  if (list->count == 0)
    return;
  double g0 = list->rows[0].total_words;
  for (int32_t i = 0; i < list->count; ++i)
    list->rows[static_cast<size_t>(i)].weight = list->rows[static_cast<size_t>(i)].total_words / g0;
}

// --- components, youth, candidate rows ---

StrongComponent *component_of(const StrongComponentSet *cs, EntryBase *node) {
  if (!node)
    return nullptr;
  if (!node->isObject())
    return static_cast<StrongComponent *>(node);
  uint32_t n = node->component();
  if (n == 0 || !cs)
    return nullptr;
  if (n < 4095)
    return n < static_cast<uint32_t>(cs->size) ? cs->component(static_cast<int32_t>(n)) : nullptr;
  for (int32_t k = 4095; k < cs->size; ++k) {
    StrongComponent *c = cs->component(k);
    if (node->serial >= c->min_member_serial && node->serial <= c->max_member_serial && c->is_member(node->serial))
      return c;
  }
  return nullptr;
}

bool is_young(const HeapDumpDataSet *set, const EntryBase *node) {
  return node->isObject() && node->age() > set->data[0]->current_age;
}

ClassSizeEntry *candidate_row(ClassSizeInfo *list, EntryBase *node) {
  if (!node->isObject() || !node->klass)
    return nullptr;
  return list->find_row(node->klass, node->kind() == KIND_KLASS ? ROW_CLASS : ROW_INSTANCE);
}

bool is_young_candidate(const HeapDumpDataSet *set, ClassSizeInfo *list, EntryBase *n) {
  if (n->isObject())
    return is_young(set, n) && candidate_row(list, n);
  StrongComponent *c = static_cast<StrongComponent *>(n);
  for (uint32_t i = 0; i < c->member_count; ++i)
    if (is_young(set, c->members[i]) && candidate_row(list, c->members[i]))
      return true;
  return false;
}

bool MarkingVisitor::enter(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *result) {
  if (n->flags & FLAG_VISIT) {
    if (n->flags & FLAG_MARK2)
      *result += 1;
    return false;
  }
  n->flags |= FLAG_VISIT;
  return true;
}

bool MarkingVisitor::visit(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) {
  if (n->isObject() && n->component()) {
    redirect = component_of(cs_, n);
    if (redirect)
      return false;
  }
  return true;
}

void MarkingVisitor::leave(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *result) {
  if (*result < 1 && !qualifies(n))
    return;
  n->flags |= FLAG_MARK2;
  *result = 1;
  ++marked;
  on_marked(n);
  if (!n->isObject() && static_cast<StrongComponent *>(n)->number >= 1) {
    StrongComponent *c = static_cast<StrongComponent *>(n);
    for (uint32_t i = 0; i < c->member_count; ++i) {
      c->members[i]->flags |= FLAG_MARK2;
      ++marked;
      on_marked(c->members[i]);
    }
  }
}

namespace {

bool fs_standardEnter(EntryBase *n) {
  if (n->flags & FLAG_VISIT)
    return false;
  n->flags |= FLAG_VISIT;
  return true;
}

class MarkVisitor : public MarkingVisitor {
public:
  MarkVisitor(HeapDumpDataSet *set, StrongComponentSet *cs, ClassSizeInfo *list)
      : MarkingVisitor(cs), set_(set), list_(list) {}

protected:
  bool qualifies(EntryBase *n) override { return is_young_candidate(set_, list_, n); }

private:
  HeapDumpDataSet *set_;
  ClassSizeInfo *list_;
};

class DepthVisitor : public Visitor {
public:
  DepthVisitor(StrongComponentSet *cs, DepthTable *t) : cs_(cs), t_(t) {}
  bool enter(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) override { return fs_standardEnter(n); }
  bool visit(HeapDumpData *, EntryBase *n, int depth, EntryBase *, int, long *) override {
    if (n->isObject() && n->component()) {
      redirect = component_of(cs_, n);
      if (redirect)
        return false;
    }
    if ((n->flags & FLAG_MARK2) && !t_->depth.count(n->serial)) {
      t_->depth.emplace(n->serial, depth);
      ++t_->count;
      if (depth > t_->max_depth)
        t_->max_depth = depth;
      return true;
    }
    return false;
  }
  void leave(HeapDumpData *, EntryBase *, int, EntryBase *, int, long *) override {}

private:
  StrongComponentSet *cs_;
  DepthTable *t_;
};

class UpperVisitor : public Visitor {
public:
  explicit UpperVisitor(UpperObjectTable *t) : t_(t) {}
  bool enter(HeapDumpData *, EntryBase *n, int, EntryBase *holder, int, long *) override {
    if (n->flags & FLAG_MARK2)
      t_->holders[n->serial].push_back(holder);
    return fs_standardEnter(n);
  }
  bool visit(HeapDumpData *, EntryBase *, int, EntryBase *, int, long *) override { return true; }
  void leave(HeapDumpData *, EntryBase *, int, EntryBase *, int, long *) override {}

private:
  UpperObjectTable *t_;
};

} // namespace

int mark_leak_candidates(HeapDumpDataSet *set, StrongComponentSet *cs, ClassSizeInfo *list) {
  TimeMeasure t;
  t.start("LeakCandidateMark");
  HeapDumpData *d = set->data.back().get();
  d->clear_marks();
  MarkVisitor v(set, cs, list);
  for (const RootData *r : d->root_order())
    if (EntryBase *n = d->find(r->serial))
      n->traverse(d, &v, 0, nullptr, -1);
  d->clear_marks();
  Utils::message(1, "total marked: %d\n", v.marked);
  t.stop();
  return v.marked;
}

bool DepthTable::find(uint32_t serial, int32_t *out) const {
  auto it = depth.find(serial);
  *out = it == depth.end() ? 0 : it->second;
  return it != depth.end();
}

DepthTable *build_depth_table(HeapDumpDataSet *set, StrongComponentSet *cs) {
  TimeMeasure t;
  t.start("LeakCandidateDepth");
  HeapDumpData *d = set->data.back().get();
  DepthTable *table = new DepthTable;
  d->clear_marks();
  DepthVisitor v(cs, table);
  for (const RootData *r : d->root_order()) {
    EntryBase *n = d->find(r->serial);
    if (!n)
      continue;
    EntryBase *m = n->isObject() && n->component() ? component_of(cs, n) : n;
    if (m && (m->flags & FLAG_MARK2))
      n->traverse(d, &v, 0, nullptr, -1);
  }
  d->clear_marks();
  Utils::message(2, "Depth obj:%d (max depth=%d)\n", table->count, table->max_depth);
  t.stop();
  return table;
}

const std::vector<EntryBase *> *UpperObjectTable::find(uint32_t serial) const {
  auto it = holders.find(serial);
  return it == holders.end() ? nullptr : &it->second;
}

UpperObjectTable *resolve_upper_objects(HeapDumpDataSet *set) {
  HeapDumpData *d = set->data.back().get();
  UpperObjectTable *table = new UpperObjectTable;
  TimeMeasure first;
  first.start("setUpperObjects first");
  d->clear_marks();
  UpperVisitor v(table);
  walk_roots(d, &v);
  d->clear_marks();
  first.stop();
  TimeMeasure second;
  second.start("setUpperObjects second");
  // Holders by serial (the null holder first), each once, without null.
  auto before = [](const EntryBase *a, const EntryBase *b) {
    uint32_t x = a ? a->serial : 0, y = b ? b->serial : 0;
    return x != y ? x < y : a < b;
  };
  d->for_each_object([&](EntryBase *n) {
    if (!(n->flags & FLAG_MARK2))
      return;
    auto it = table->holders.find(n->serial);
    if (it == table->holders.end())
      return;
    std::vector<EntryBase *> &h = it->second;
    std::sort(h.begin(), h.end(), before);
    h.erase(std::unique(h.begin(), h.end()), h.end());
    h.erase(std::remove(h.begin(), h.end(), nullptr), h.end());
  });
  second.stop();
  return table;
}
