// Leak detection's driver: the TOTAL and DIFF pipeline (over the whole
// heap and, for auto, the permanent region too), the result report and
// the class reference detection.
#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "classRef.h"
#include "classSizeInfo.h"
#include "heapAudit.h"
#include "heapAuditTable.h"
#include "heapDumpData.h"
#include "leakCandidate.h"
#include "leakObjectArray.h"
#include "strongComponent.h"
#include "utils.h"

namespace {

const char *fs_text(const char *s) { return s ? s : "(null)"; }
const char *fs_letter(const ClassSizeEntry &r) { return r.row_kind == ROW_CLASS ? "C" : "I"; }

// The young candidate members of a component by class, smallest first.
std::unique_ptr<ClassSizeInfo> fs_breakdown(HeapDumpDataSet *set, HeapDumpData *d, StrongComponent *c,
                                            ClassSizeInfo *list) {
  std::unique_ptr<ClassSizeInfo> b(ClassSizeInfo::empty(0, d));
  b->rows.reserve(static_cast<size_t>(set->class_size_info.back()->count));
  for (uint32_t i = 0; i < c->member_count; ++i) {
    EntryBase *m = c->members[i];
    ClassSizeEntry *cand = is_young(set, m) ? candidate_row(list, m) : nullptr;
    if (!cand)
      continue;
    uint32_t kind = m->kind() == KIND_KLASS ? ROW_CLASS : ROW_INSTANCE;
    uint32_t size = d->size_of(m);
    if (ClassSizeEntry *r = b->find_row(m->klass, kind)) {
      r->total_words += size;
      r->object_count += 1;
      continue;
    }
    ClassSizeEntry r;
    r.row_kind = cand->row_kind;
    r.klass = cand->klass;
    r.name_index = cand->name_index;
    r.state = cand->state;
    r.age = 0;
    r.total_words = size;
    r.object_count = 1;
    r.weight = 0.0;
    b->append(r);
  }
  b->sort();
  return b;
}

// What a chain lookup of the root and call trace tables finds first: the
// newest root of a serial, the newest trace of a JNI environment.
struct RootIndex {
  std::unordered_map<uint32_t, const RootData *> roots;
  std::unordered_map<uint32_t, const CallTraceEntry *> traces;
  explicit RootIndex(const HeapDumpData *d) {
    for (const RootData &r : d->roots)
      roots[r.serial] = &r;
    for (const CallTraceEntry &t : d->call_traces)
      traces[t.env_id] = &t;
  }
  const RootData *root(uint32_t serial) const {
    auto it = roots.find(serial);
    return it == roots.end() ? nullptr : it->second;
  }
};

void fs_rootLine(FILE *out, HeapDumpData *d, const RootIndex &index, int n, double score, const RootData *root) {
  const char *klass = nullptr, *method = nullptr;
  int line = 0;
  if (root->kind == 2 || root->kind == 3) {
    auto it = index.traces.find(root->thread_id);
    const CallTraceEntry *trace = it == index.traces.end() ? nullptr : it->second;
    if (trace && root->frame >= 1 && static_cast<int64_t>(root->frame) <= trace->frame_count) {
      const CallFrame &f = trace->frames[root->frame - 1];
      line = f.line;
      auto it = d->methods.find(f.method_id);
      if (it != d->methods.end()) {
        method = d->name_of(it->second->name_id);
        EntryBase *k = d->find(it->second->klass);
        klass = k ? d->class_name(k) : nullptr;
      }
    }
  } else if (root->kind == 5) {
    klass = d->class_name(d->find(root->serial));
  }
  Utils::output2file(out, "[%5d] score:%6.2lf\t [C] %s [M] %s (line:%d) ROOT\n", n, score, fs_text(klass),
                     fs_text(method), line);
}

void fs_successors(FILE *out, HeapDumpDataSet *set, HeapDumpData *d, const LeakObjectEntry &e, ClassSizeInfo *list,
                   StrongComponentSet *cs) {
  for (ClassSizeEntry &r : list->rows) {
    r.total_words = 0;
    r.object_count = 0;
  }
  e.set->for_each([&](uint32_t s) {
    EntryBase *n = d->find(s);
    if (!n)
      return;
    if (n->isObject()) {
      if (ClassSizeEntry *r = candidate_row(list, n)) {
        r->total_words += d->size_of(n);
        r->object_count += 1;
      }
      return;
    }
    std::unique_ptr<ClassSizeInfo> b = fs_breakdown(set, d, static_cast<StrongComponent *>(n), list);
    for (const ClassSizeEntry &br : b->rows) {
      if (!br.total_words && !br.object_count)
        continue;
      if (ClassSizeEntry *r = list->find_row(br.klass, br.row_kind)) {
        r->total_words += br.total_words;
        r->object_count += br.object_count;
      } else {
        Utils::vmessage(1, "%s(%d): no match ClassSizeEntry\n", "classSizeInfo", 253);
      }
    }
  });
  (void)cs;
  list->sort();
  double sum = 0;
  for (const ClassSizeEntry &r : list->rows)
    sum += r.total_words;
  Utils::output2file(out, "  [successor]\n");
  for (int32_t i = list->count - 1; i >= 0; --i) {
    const ClassSizeEntry &r = list->rows[static_cast<size_t>(i)];
    if (!r.total_words)
      continue;
    Utils::output2file(out, "  -> %5.1lf%% %7u (%s) %s\n", r.total_words / sum * 100, r.object_count, fs_letter(r),
                       fs_text(d->class_name(d->find(r.klass))));
  }
  Utils::output2file(out, "\n");
}

void fs_report(FILE *out, HeapDumpDataSet *set, StrongComponentSet *cs, LeakObjectTable *t, ClassSizeInfo *list,
               int kind, bool detail) {
  HeapDumpData *d = set->data.back().get();
  rank_table(t, d, kind);
  const RootIndex index(d);
  Utils::output2file(out, "\n***** Output LeakDetction Result *****\n");
  double total = 0;
  for (int32_t p = 0; p <= t->last; ++p)
    total += static_cast<double>(entry_key(t->entries[static_cast<size_t>(t->order[static_cast<size_t>(p)])], kind));
  static const char *const labels[] = {"unknown", "static", "instance", "array element(obj)", "array element(type)"};
  int n = 1;
  for (int32_t p = t->last; p >= 0; --p, ++n) {
    const LeakObjectEntry &e = t->entries[static_cast<size_t>(t->order[static_cast<size_t>(p)])];
    double score = static_cast<double>(entry_key(e, kind)) / total * 100.0;
    if (e.component_number >= 1) {
      Utils::output2file(out, "[%5d] score:%6.2lf\t [C] %s (id:%d)\n", n, score,
                         NameTable::instance().text(NameTable::STCOMP), e.component_number);
      StrongComponent *c = cs->component(e.component_number);
      std::unique_ptr<ClassSizeInfo> b = fs_breakdown(set, d, c, list);
      if (b->count > 0) {
        Utils::output2file(out, "  [entries]\n");
        double sum = 0;
        for (const ClassSizeEntry &r : b->rows)
          sum += r.total_words;
        for (int32_t i = b->count - 1; i >= 0; --i) {
          const ClassSizeEntry &r = b->rows[static_cast<size_t>(i)];
          Utils::output2file(out, "  -> %4.1lf%% %7u (%s) %s\n", r.total_words / sum * 100, r.object_count,
                             fs_letter(r), fs_text(NameTable::instance().text(r.name_index)));
        }
      }
    } else if (const RootData *root = index.root(e.serial)) {
      fs_rootLine(out, d, index, n, score, root);
    } else {
      const char *k = nullptr, *sig = nullptr, *name = nullptr;
      d->field_of_reference(e.holder_serial, e.slot, false, &k, &sig, &name);
      int hk = e.holder_kind >= 0 && e.holder_kind <= 4 ? e.holder_kind : 0;
      Utils::output2file(out, "[%5d] score:%6.2lf\t [C] %s [F] (%s)%s (type:%s)\n", n, score, fs_text(k), fs_text(sig),
                         fs_text(name), labels[hk]);
    }
    if (detail)
      fs_successors(out, set, d, e, list, cs);
  }
}

void fs_pipeline(HeapDumpDataSet *set, StrongComponentSet *cs, FILE *out, bool only_class, int kinds, bool detail) {
  Utils::message(1, "==> Leak detection: Resolve Leak Class\n");
  std::unique_ptr<ClassSizeInfo> list(resolve_leak_classes(set, only_class));
  Utils::memory_guard();
  if (list->count == 0) {
    Utils::output2file(out, "No memory leak in ");
    Utils::output2file(out, only_class ? "permanent heap\n\n" : "all java heap\n\n");
    return;
  }
  set->leak_second = list.get();
  set_class_weights(list.get());
  Utils::memory_guard();
  list->write_difference_table(set->data.back().get(), out);
  Utils::message(1, "==> Mark leak candidate object\n");
  mark_leak_candidates(set, cs, list.get());
  Utils::memory_guard();
  Utils::message(1, "==> Set leak candidate object depth\n");
  std::unique_ptr<DepthTable> depth(build_depth_table(set, cs));
  Utils::memory_guard();
  Utils::message(1, "==> Resolve Upper objects\n");
  std::unique_ptr<UpperObjectTable> upper(resolve_upper_objects(set));
  Utils::memory_guard();
  Utils::message(1, "==> Set Object Rank from Root (RC)\n");
  std::unique_ptr<LeakObjectTable> table(new LeakObjectTable(cs, upper.get()));
  Utils::memory_guard();
  set->leak_first = table.get();
  collect_leak_objects(set, table.get(), list.get(), depth.get());
  Utils::memory_guard();
  if (kinds & DETECT_TOTAL) {
    Utils::output2file(out, "##################################\n");
    Utils::output2file(out, "# Memory leak detect kind: TOTAL #\n");
    if (only_class)
      Utils::output2file(out, "#        (permanent region only) #\n");
    Utils::output2file(out, "##################################\n");
    Utils::message(1, "Detect kind: TOTAL\n");
    fs_report(out, set, cs, table.get(), list.get(), DETECT_TOTAL, detail);
    Utils::output2file(out, "\n");
  }
  if (kinds & DETECT_DIFF) {
    Utils::output2file(out, "##################################\n");
    Utils::output2file(out, "# Memory leak detect kind: DIFF  #\n");
    if (only_class)
      Utils::output2file(out, "#        (permanent region only) #\n");
    Utils::output2file(out, "##################################\n");
    Utils::message(1, "Detect kind: DIFF\n");
    fs_report(out, set, cs, table.get(), list.get(), DETECT_DIFF, detail);
    Utils::output2file(out, "\n");
  }
  table.reset();
  set->leak_first = nullptr;
  for (int32_t n = 1; n < cs->size; ++n)
    cs->component(n)->depth = 2147483647;
  set->leak_second = nullptr;
}

} // namespace

void detect_leaks(HeapDumpDataSet *set, StrongComponentSet *cs, const DetectOptions &opt) {
  const int kinds = opt.detect_kind;
  FILE *out = Utils::open_resultfile();
  if ((kinds & (DETECT_TOTAL | DETECT_DIFF)) || opt.auto_detect) {
    if (set->count < 2) {
      fprintf(stderr, "For memory leak detection, more than 2 data are needed at least (%d)\n", kinds);
      exit(0);
    }
    if (opt.auto_detect) {
      fs_pipeline(set, cs, out, false, kinds, opt.detail);
      fs_pipeline(set, cs, out, true, kinds, opt.detail);
    } else {
      fs_pipeline(set, cs, out, opt.only_class, kinds, opt.detail);
    }
  }
  Utils::memory_guard();
  if (kinds & DETECT_CLASS) {
    Utils::message(1, opt.auto_detect ? "Auto Detect: CLASS REF\n" : "Manual Detect: CLASS REF\n");
    Utils::output2file(out, "#############################################\n");
    Utils::output2file(out, "# Memory leak detect kind: CLASS REF        #\n");
    Utils::output2file(out, "#############################################\n");
    detect_class_references(set, cs, out);
    Utils::output2file(out, "\n");
  }
  Utils::close_resultfile(out);
}
