#include "heapAuditTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <cstdio>
#include <map>
#include <tuple>

#include "classSizeInfo.h"
#include "heapDumpData.h"
#include "leakCandidate.h"
#include "leakObjectArray.h"
#include "shellSort.h"
#include "strongComponent.h"
#include "utils.h"

// --- the table ---

LeakObjectTable::LeakObjectTable(StrongComponentSet *cs, UpperObjectTable *up) : components(cs), upper(up) {
  NameTable &names = NameTable::instance();
  special[0] = names.find("java/util/Hashtable$Entry", 25);
  special[1] = names.find("java/util/HashMap$Entry", 23);
  entries.reserve(1024);
}

LeakObjectTable::~LeakObjectTable() {
  Utils::vmessage(1, "[LOT] current_size: %d\n", static_cast<int>(room_));
}

void LeakObjectTable::append(const LeakObjectEntry &e) {
  ++last;
  last_before_delete = last;
  if (static_cast<uint32_t>(last) >= room_)
    room_ = room_ + room_ / 2 + 1;
  entries.push_back(e);
  if (e.component_number > 0) {
    by_component_[e.component_number] = last;
  } else {
    if (e.serial >= by_serial_.size())
      by_serial_.resize(std::max<size_t>(e.serial + 1, by_serial_.size() * 2), -1);
    by_serial_[e.serial] = last;
  }
}

LeakObjectEntry *LeakObjectTable::find_object(uint32_t serial) {
  if (serial >= by_serial_.size() || by_serial_[serial] < 0)
    return nullptr;
  return &entries[static_cast<size_t>(by_serial_[serial])];
}

LeakObjectEntry *LeakObjectTable::find_component(int32_t number) {
  auto it = by_component_.find(number);
  return it == by_component_.end() ? nullptr : &entries[static_cast<size_t>(it->second)];
}

LeakObjectArray *LeakObjectTable::keep(LeakObjectArray *set) {
  sets_.emplace_back(set);
  return set;
}

// --- the collecting walk ---

namespace {

struct Collector {
  HeapDumpDataSet *set;
  HeapDumpData *d;
  LeakObjectTable *table;
  ClassSizeInfo *list;
  DepthTable *depth;
  std::unordered_set<uint32_t> roots;
  long loa = 0, loe = 0;
  uint64_t processed = 0;
  long last_p = 0;

  double weight_of(LeakObjectArray *s) { return s->get_weight(d, list, table->components); }

  // enter: false to refuse; *result may take an existing set.
  bool enter(EntryBase *n, EntryBase *holder, LeakObjectArray **result) {
    if (!(n->flags & FLAG_VISIT)) {
      n->flags |= FLAG_VISIT;
      return true;
    }
    if (holder && d->is_weak_map(holder))
      return false;
    LeakObjectEntry *e = n->isObject() ? table->find_object(n->serial)
                                       : table->find_component(static_cast<int32_t>(static_cast<StrongComponent *>(n)->number));
    if (e)
      *result = e->set;
    return false;
  }

  // visit: false to refuse; *redirect names a member's component.
  bool visit(EntryBase *n, EntryBase **redirect) {
    if (n->isObject() && n->component()) {
      if (StrongComponent *c = component_of(table->components, n)) {
        *redirect = c;
        return false;
      }
    }
    return !d->is_weak_map(n);
  }

  void leave(EntryBase *n, EntryBase *holder, int slot, double largest, bool shared, LeakObjectArray **result) {
    if (is_young_candidate(set, list, n)) {
      bool fresh = !*result || shared;
      if (!*result)
        *result = table->keep(new LeakObjectArray);
      else if (shared)
        *result = table->keep((*result)->copy());
      if (fresh)
        Utils::memory_guard();
      (*result)->add(d, n->serial);
      if (fresh)
        loa += static_cast<long>((*result)->storage_size());
    }
    bool member = n->isObject() && n->component() != 0;
    if (*result && !member) {
      StrongComponent *c = n->isObject() ? nullptr : static_cast<StrongComponent *>(n);
      if (!c || !table->find_component(static_cast<int32_t>(c->number))) {
        table->append(make_entry(n, holder, slot, *result, largest));
        if (!(n->flags & FLAG_MARK2))
          Utils::vmessage(1, "Warning: not marked leak object\n");
        loe += 56;
      }
    }
    processed += n->isObject() ? 1 : static_cast<StrongComponent *>(n)->member_count;
    long p = d->record_count > 0 ? static_cast<long>(static_cast<double>(processed) / d->record_count * 100.0) / 10 : 0;
    if (p > last_p) {
      Utils::message(1, "..%d%%", static_cast<int>(p * 10));
      last_p = p;
    }
  }

  LeakObjectEntry make_entry(EntryBase *n, EntryBase *h, int slot, LeakObjectArray *s, double largest) {
    LeakObjectEntry e;
    e.slot = slot;
    if (!n->isObject()) {
      StrongComponent *c = static_cast<StrongComponent *>(n);
      e.serial = 0;
      depth->find(c->serial, &e.depth);
      e.age = 0;
      e.component_number = static_cast<int32_t>(c->number);
      if (h)
        e.holder_serial = h->serial;
    } else {
      e.serial = n->serial;
      e.age = static_cast<int32_t>(n->age());
      depth->find(n->serial, &e.depth);
      if (roots.count(n->serial)) {
        if (h) {
          e.holder_serial = h->serial;
        } else {
          e.slot = -1;
          e.holder_serial = n->serial;
        }
      } else if (h) {
        e.holder_serial = h->serial;
        switch (h->isObject() ? h->kind() : 0u) {
        case KIND_KLASS:
          e.holder_kind = HOLDER_CLASS;
          break;
        case KIND_INSTANCE:
          e.holder_kind = HOLDER_INSTANCE;
          break;
        case KIND_OBJARRAY:
          e.holder_kind = HOLDER_OBJARRAY;
          break;
        case KIND_PRIMARRAY:
          e.holder_kind = HOLDER_PRIMARRAY;
          break;
        default:
          // A component holds an object only through a member class's
          // loader, signers or protection domain: shown as a class link.
          e.holder_kind = HOLDER_CLASS;
          break;
        }
      }
    }
    e.set = s;
    e.weight = static_cast<int64_t>(std::trunc(weight_of(s)));
    e.excess = e.weight - static_cast<int64_t>(std::trunc(largest));
    return e;
  }
};

// Child step i of n for the collecting walk; false past the last step.
bool fs_collectChild(HeapDumpData *d, EntryBase *n, uint32_t i, EntryBase **child, EntryBase **holder, int *slot) {
  *child = nullptr;
  *holder = n;
  *slot = -1;
  if (n->isObject()) {
    uint32_t refs = n->getRefNum();
    if (i < refs) {
      uint32_t s = n->getRefs()[i];
      *slot = static_cast<int>(i);
      *child = s ? d->find(s) : nullptr;
      return true;
    }
    return class_link_step(d, n, i - refs, false, child);
  }
  StrongComponent *c = static_cast<StrongComponent *>(n);
  if (i < c->ext_count) {
    *child = d->find(c->ext_refs[i]);
    *holder = c->ext_holders[i];
    *slot = c->ext_slots[i];
    return true;
  }
  return class_link_step(d, n, i - c->ext_count, false, child);
}

struct CFrame {
  EntryBase *node, *holder;
  int slot;
  uint32_t next;
  LeakObjectArray *result;
  bool shared;
  double largest;
};

// The recursive collect on an explicit stack.
LeakObjectArray *fs_collect(Collector &c, EntryBase *start) {
  std::vector<CFrame> stack;
  LeakObjectArray *top = nullptr;
  auto give = [&](LeakObjectArray *r) {
    if (stack.empty()) {
      top = r;
      return;
    }
    if (!r)
      return;
    CFrame &p = stack.back();
    double w = c.weight_of(r);
    if (w > p.largest)
      p.largest = w;
    if (!p.result) {
      p.result = r;
      p.shared = true;
    } else if (p.shared) {
      p.result = c.table->keep(p.result->copy());
      p.result->unite(c.d, r);
      p.shared = false;
    } else {
      p.result->unite(c.d, r);
    }
  };
  auto open = [&](EntryBase *n, EntryBase *h, int sl) {
    for (;;) {
      LeakObjectArray *result = nullptr;
      if (!c.enter(n, h, &result)) {
        give(result);
        return;
      }
      EntryBase *redirect = nullptr;
      if (!c.visit(n, &redirect)) {
        if (redirect) {
          // The member's result is its component's, walked without holder.
          n = redirect;
          h = nullptr;
          sl = -1;
          continue;
        }
        give(result);
        return;
      }
      stack.push_back({n, h, sl, 0, nullptr, false, 0.0});
      return;
    }
  };
  open(start, nullptr, -1);
  while (!stack.empty()) {
    CFrame &f = stack.back();
    EntryBase *child, *holder;
    int sl;
    if (fs_collectChild(c.d, f.node, f.next++, &child, &holder, &sl)) {
      if (child)
        open(child, holder, sl);
      continue;
    }
    LeakObjectArray *result = f.result;
    c.leave(f.node, f.holder, f.slot, f.largest, f.shared, &result);
    stack.pop_back();
    give(result);
  }
  return top;
}

} // namespace

void collect_leak_objects(HeapDumpDataSet *set, LeakObjectTable *table, ClassSizeInfo *list, DepthTable *depth) {
  HeapDumpData *d = set->data.back().get();
  d->clear_marks();
  Collector c{set, d, table, list, depth, {}, 0, 0, 0, 0};
  for (const RootData &r : d->roots)
    c.roots.insert(r.serial);
  for (const RootData *r : d->root_order())
    if (EntryBase *n = d->find(r->serial))
      fs_collect(c, n);
  d->clear_marks();
  Utils::message(1, "..done\n");
  Utils::vmessage(5, "[MARKED] marked obj num: %d\n", table->last + 1);
  Utils::vmessage(3, "allocation size: LOE:%d  LOA:%d\n", static_cast<int>(c.loe), static_cast<int>(c.loa));
}

// --- ranking ---

int64_t entry_key(const LeakObjectEntry &e, int kind) {
  if (kind == 1)
    return e.weight;
  if (kind == 2)
    return e.excess;
  fputs("Use default rank\n", stderr);
  return e.weight;
}

namespace {

void fs_zero(LeakObjectEntry &e) { e.weight = e.excess = 0; }

void fs_arraysAndLeaves(LeakObjectTable *t, HeapDumpData *d) {
  for (int32_t i = 0; i <= t->last; ++i) {
    LeakObjectEntry &e = t->entries[static_cast<size_t>(i)];
    if (e.component_number >= 1)
      continue;
    EntryBase *n = d->find(e.serial);
    if (!n)
      continue;
    const std::vector<EntryBase *> *h = t->upper ? t->upper->find(e.serial) : nullptr;
    if (n->kind() == KIND_OBJARRAY) {
      if (h)
        for (EntryBase *x : *h)
          if (LeakObjectEntry *he = x ? t->find_object(x->serial) : nullptr)
            he->excess += e.excess;
      fs_zero(e);
    }
    if (n->getRefNum() == 0)
      fs_zero(e);
    if (h && !h->empty()) {
      bool all = true;
      for (EntryBase *x : *h)
        all = all && x && x->kind() == KIND_OBJARRAY && x->isObject();
      if (all)
        fs_zero(e);
    }
  }
}

void fs_specialClasses(LeakObjectTable *t, HeapDumpData *d) {
  for (int32_t i = 0; i <= t->last; ++i) {
    LeakObjectEntry &e = t->entries[static_cast<size_t>(i)];
    EntryBase *k = d->find(e.holder_serial);
    if (!k || e.component_number >= 1)
      continue;
    int32_t ni = d->class_name_index(k);
    if (ni < 0 || (ni != t->special[0] && ni != t->special[1]))
      continue;
    const char *entryClass = NameTable::instance().text(ni);
    std::string arrayPart = std::string(entryClass) + ";";
    EntryBase *cur = d->find(e.serial);
    std::unordered_set<EntryBase *> passed;
    EntryBase *array = nullptr;
    while (cur && !array) {
      const std::vector<EntryBase *> *h = t->upper ? t->upper->find(cur->serial) : nullptr;
      if (!h)
        break;
      EntryBase *next = nullptr;
      for (EntryBase *x : *h) {
        if (!x)
          continue;
        const char *name = d->class_name(x);
        if (!name)
          continue;
        if (x->kind() == KIND_OBJARRAY && x->isObject() && name[0] == '[' && strstr(name, arrayPart.c_str())) {
          array = x;
          break;
        }
        if (strcmp(name, entryClass) == 0) {
          next = x;
          break;
        }
      }
      if (array || !next || !passed.insert(next).second)
        break;
      cur = next;
    }
    if (!array)
      continue;
    const std::vector<EntryBase *> *ah = t->upper ? t->upper->find(array->serial) : nullptr;
    if (!ah || ah->size() != 1)
      continue;
    EntryBase *owner = (*ah)[0];
    LeakObjectEntry *oe = nullptr;
    if (StrongComponent *c = owner && owner->component() ? component_of(t->components, owner) : nullptr)
      oe = t->find_component(static_cast<int32_t>(c->number));
    else if (owner)
      oe = t->find_object(owner->serial);
    if (oe)
      oe->excess += e.excess;
    fs_zero(e);
  }
}

} // namespace

void rank_table(LeakObjectTable *t, HeapDumpData *d, int kind) {
  if (t->ranked)
    t->last = t->last_before_delete;
  const int32_t n = t->last + 1;
  t->order.resize(static_cast<size_t>(n));
  for (int32_t p = 0; p < n; ++p)
    t->order[static_cast<size_t>(p)] = p;
  if (!t->ranked) {
    Utils::message(3, " ... delete object array and leaf data\n");
    fs_arraysAndLeaves(t, d);
    Utils::message(3, " ... propagate weight value on special class object to the origin object\n");
    fs_specialClasses(t, d);
  }
  auto key = [t, kind](int32_t i) { return entry_key(t->entries[static_cast<size_t>(i)], kind); };
  Utils::message(3, " ... sort by rank\n");
  shell_sort(t->order.data(), n, key);
  Utils::message(3, " ... sort by depth\n");
  if (n >= 2) {
    int32_t start = 0;
    for (int32_t p = 1; p <= n; ++p) {
      if (p < n && key(t->order[static_cast<size_t>(p)]) == key(t->order[static_cast<size_t>(start)]))
        continue;
      shell_sort(t->order.data() + start, p - start,
                 [t](int32_t i) { return t->entries[static_cast<size_t>(i)].depth; });
      start = p;
    }
  }
  Utils::message(3, " ... delete same data\n");
  // Entries that describe the same thing form a group: of each group only
  // the highest position with a key above 0 stays. (Sameness is an
  // equivalence, so this is the pairwise sweep from the top in one pass.)
  typedef std::tuple<int32_t, int64_t, int64_t, uint32_t, const char *, const char *, const char *> Group;
  std::map<Group, bool> seen;
  std::vector<int32_t> kept;
  for (int32_t p = n - 1; p >= 0; --p) {
    const LeakObjectEntry &e = t->entries[static_cast<size_t>(t->order[static_cast<size_t>(p)])];
    if (key(t->order[static_cast<size_t>(p)]) <= 0)
      continue;
    Group g;
    if (e.component_number > 0) {
      g = Group(e.component_number, e.weight, e.excess, e.holder_serial, nullptr, nullptr, nullptr);
    } else {
      const char *k = nullptr, *sig = nullptr, *name = nullptr;
      d->field_of_reference(e.holder_serial, e.slot, false, &k, &sig, &name);
      g = Group(e.component_number, 0, 0, 0, k, sig, name);
    }
    if (!seen.emplace(g, true).second)
      continue;
    kept.push_back(t->order[static_cast<size_t>(p)]);
  }
  t->order.assign(kept.rbegin(), kept.rend());
  t->last_before_delete = t->last;
  t->last = static_cast<int32_t>(t->order.size()) - 1;
  t->ranked = true;
}
