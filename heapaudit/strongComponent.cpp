#include "strongComponent.h"

#include <algorithm>
#include <cstdlib>

#include "heapDumpData.h"
#include "shellSort.h"
#include "utils.h"

namespace {

struct Search {
  HeapDumpData *d;
  std::vector<uint32_t> number; // search number by serial; 0: not visited
  std::vector<EntryBase *> stack;
  uint32_t counter = 0;
  uint32_t done = 0;
  std::vector<StrongComponent *> found;
  // Components waiting for their chain in the start-node order.
  std::vector<std::vector<StrongComponent *>> pending_by_chain;

  uint32_t &num(uint32_t serial) {
    if (serial >= number.size())
      number.resize(serial + 1 + serial / 8, 0);
    return number[serial];
  }
  EntryBase *target(EntryBase *n, uint32_t i) {
    uint32_t s = n->getRefs()[i];
    return s ? d->find(s) : nullptr;
  }

  StrongComponent *make(std::vector<EntryBase *> &popped) {
    Utils::vmessage(8, "[STCOMP] element num:%d\n", static_cast<int>(popped.size()));
    StrongComponent *c = d->new_component();
    c->member_count = static_cast<uint32_t>(popped.size());
    c->members = static_cast<EntryBase **>(d->arena.bytes(sizeof(EntryBase *) * popped.size()));
    for (size_t i = 0; i < popped.size(); ++i) {
      EntryBase *m = popped[popped.size() - 1 - i]; // discovery order
      c->members[i] = m;
      m->set_component(1);
      if (m->serial > c->max_member_serial)
        c->max_member_serial = m->serial;
      if (m->serial < c->min_member_serial)
        c->min_member_serial = m->serial;
      Utils::vmessage(8, "[STCOMP] entry: %u id=%d\n", m->serial, 1);
    }
    c->serial = ++d->max_serial;
    c->set_kind(KIND_COMPONENT);
    d->adding_position = c->serial;
    d->add_node(c);
    uint32_t slots = 0;
    for (uint32_t i = 0; i < c->member_count; ++i)
      slots += c->members[i]->getRefNum();
    c->ref_slot_count = slots;
    c->ext_refs = d->arena.words(slots);
    c->ext_holders = static_cast<EntryBase **>(d->arena.bytes(sizeof(EntryBase *) * slots));
    c->ext_slots = reinterpret_cast<int32_t *>(d->arena.words(slots));
    uint32_t k = 0;
    for (uint32_t i = 0; i < c->member_count; ++i) {
      EntryBase *m = c->members[i];
      for (uint32_t s = 0; s < m->getRefNum(); ++s) {
        EntryBase *t = target(m, s);
        if (t && t->component() != 1) {
          c->ext_refs[k] = t->serial;
          c->ext_holders[k] = m;
          c->ext_slots[k] = static_cast<int32_t>(s);
          ++k;
        }
      }
    }
    c->ext_count = k;
    for (uint32_t i = k; i < slots; ++i)
      c->ext_refs[i] = 0;
    c->number = 2;
    for (uint32_t i = 0; i < c->member_count; ++i)
      c->members[i]->set_component(2);
    // Members sorted by serial (all different) for the membership test.
    std::sort(c->members, c->members + c->member_count,
              [](const EntryBase *x, const EntryBase *y) { return x->serial < y->serial; });
    found.push_back(c);
    return c;
  }

  // The recursive search of the strong components, on an explicit stack.
  void run(EntryBase *start) {
    struct Frame {
      EntryBase *node;
      uint32_t *refs;
      uint32_t count;
      uint32_t low;
      uint32_t slot;
    };
    std::vector<Frame> frames;
    auto open = [&](EntryBase *n) {
      uint32_t v = ++counter;
      num(n->serial) = v;
      stack.push_back(n);
      frames.push_back({n, n->getRefs(), n->getRefNum(), v, 0});
    };
    open(start);
    uint32_t returned = 0;
    bool has_return = false;
    while (!frames.empty()) {
      Frame &f = frames.back();
      if (has_return) {
        if (returned < f.low)
          f.low = returned;
        has_return = false;
      }
      if (f.slot < f.count) {
        uint32_t s = f.refs[f.slot++];
        if (!s)
          continue;
        // Only nodes get numbers: a numbered serial needs no lookup.
        uint32_t v = s < number.size() ? number[s] : 0;
        if (v) {
          if (v < f.low)
            f.low = v;
          continue;
        }
        if (EntryBase *t = d->find(s))
          open(t);
        continue;
      }
      EntryBase *n = f.node;
      uint32_t low = f.low;
      frames.pop_back();
      if (low == num(n->serial)) {
        std::vector<EntryBase *> popped;
        for (;;) {
          EntryBase *m = stack.back();
          stack.pop_back();
          num(m->serial) = done;
          popped.push_back(m);
          if (m == n)
            break;
        }
        if (popped.size() > 1) {
          StrongComponent *c = make(popped);
          pending(c);
        }
      }
      returned = low;
      has_return = true;
    }
  }

  uint32_t current_chain = 0;
  bool started = false;
  // A component lands at the head of its chain: the start-node order
  // meets it when that chain is still ahead.
  void pending(StrongComponent *c) {
    uint32_t chain = c->serial % OBJECT_TABLE_SIZE;
    if (!started || chain <= current_chain)
      return;
    pending_by_chain.resize(OBJECT_TABLE_SIZE);
    auto &p = pending_by_chain[chain];
    p.insert(p.begin(), c);
  }
  void start_node(EntryBase *n) {
    if (n->kind() == KIND_PRIMARRAY || num(n->serial))
      return;
    run(n);
  }
  void chains_up_to(uint32_t chain) {
    // Pending heads of chains up to and including chain, in chain order.
    if (pending_by_chain.empty())
      return;
    for (uint32_t c = current_chain + 1; c <= chain && c < OBJECT_TABLE_SIZE; ++c) {
      current_chain = c;
      std::vector<StrongComponent *> heads;
      heads.swap(pending_by_chain[c]);
      for (StrongComponent *h : heads)
        start_node(h);
    }
  }
};

// Counts the members a walk from the first member reaches.
class CheckVisitor : public Visitor {
public:
  CheckVisitor(StrongComponent *c, int32_t n) : c_(c), n_(n) {}
  uint32_t counted = 0;
  bool failed = false;
  bool enter(HeapDumpData *, EntryBase *e, int, EntryBase *, int, long *) override {
    return !(e->flags & FLAG_VISIT) && c_->is_member(e->serial);
  }
  bool visit(HeapDumpData *d, EntryBase *e, int, EntryBase *holder, int, long *) override {
    e->flags |= FLAG_VISIT;
    bool any = false;
    for (uint32_t i = 0; i < e->getRefNum(); ++i) {
      uint32_t s = e->getRefs()[i];
      if (!s || !c_->is_member(s))
        continue;
      any = true;
      EntryBase *t = d->find(s);
      const char *a = d->class_name(e), *b = d->class_name(t);
      Utils::vmessage(5, "SC%4d  %u(%02x) %s -> %u(%02x) %s\n", n_, e->serial, e->kind(), a ? a : "(null)", s,
                      t ? t->kind() : 0, b ? b : "(null)");
    }
    if (any) {
      ++counted;
      return true;
    }
    Utils::message(0, "[SC%4d] not correct object...(%u)\n", n_, e->serial);
    if (holder && holder->kind() == KIND_KLASS && holder->isObject() &&
        static_cast<KlassEntry *>(holder)->loader == e->serial)
      fputs("this is loader...\n", stderr);
    return false;
  }
  void leave(HeapDumpData *, EntryBase *, int, EntryBase *, int, long *) override {}

private:
  StrongComponent *c_;
  int32_t n_;
};

} // namespace

StrongComponentSet *StrongComponentSet::build(HeapDumpData *d, bool check) {
  Utils::message(1, "==> Cycle object reference detection\n");
  d->clear_marks();
  Search s;
  s.d = d;
  s.done = static_cast<uint32_t>(d->record_count) + 2;
  s.number.assign(d->serial_limit() + 1, 0);
  s.started = true;
  bool first = true;
  d->for_each_object([&](EntryBase *n) {
    uint32_t chain = n->serial % OBJECT_TABLE_SIZE;
    if (first) {
      s.current_chain = chain;
      first = false;
    } else if (chain > s.current_chain) {
      s.chains_up_to(chain);
      s.current_chain = chain;
    }
    s.start_node(n);
  });
  s.chains_up_to(OBJECT_TABLE_SIZE - 1);
  s.number.clear();
  s.number.shrink_to_fit();
  Utils::message(1, "..... done\n");

  // Numbering: by size, the largest first.
  StrongComponentSet *set = new StrongComponentSet;
  set->dump = d;
  int32_t c = static_cast<int32_t>(s.found.size());
  std::vector<StrongComponent *> rec = s.found;
  for (int32_t k = 0; k < c; ++k)
    rec[static_cast<size_t>(k)]->number = static_cast<uint32_t>(k + 1);
  shell_sort(rec.data(), c, [](StrongComponent *x) { return x->member_count; });
  set->size = c + 1;
  set->table.assign(static_cast<size_t>(c + 1), nullptr);
  for (int32_t p = 1; p <= c; ++p) {
    StrongComponent *x = rec[static_cast<size_t>(p - 1)];
    uint32_t number = static_cast<uint32_t>(c + 1 - p);
    x->number = number;
    for (uint32_t i = 0; i < x->member_count; ++i)
      x->members[i]->set_component(number);
    set->table[number] = x;
  }
  Utils::vmessage(3, "[STCOMP] number of SC: %d\n", c);
  uint32_t total = 0;
  for (int32_t n = 1; n <= c; ++n) {
    Utils::vmessage(5, "[STCOMP] SC%3d: %u\n", n, set->table[static_cast<size_t>(n)]->member_count);
    total += set->table[static_cast<size_t>(n)]->member_count;
  }
  Utils::vmessage(3, "[STCOMP] total objects: %u\n", total);

  if (check) {
    Utils::vmessage(1, "==> Check StrongComponent validity\n");
    bool any_failed = false;
    for (int32_t n = 1; n <= c; ++n) {
      StrongComponent *x = set->table[static_cast<size_t>(n)];
      d->clear_marks();
      CheckVisitor v(x, n);
      x->members[0]->traverse(d, &v, -1, nullptr, -1);
      Utils::vmessage(5, "[SC CHECK] check start SC%4u\n", static_cast<uint32_t>(n));
      if (v.counted == x->member_count) {
        Utils::vmessage(5, "[SC CHECK] %4d check correct numSc:%d  check:%d\n\n", n, x->member_count, v.counted);
      } else {
        Utils::vmessage(5, "[SC CHECK] %4d check failed numSc:%d  check:%d\n\n", n, x->member_count, v.counted);
        any_failed = true;
      }
    }
    if (any_failed) {
      Utils::message(0, "Error: validity check of strong component elements\n");
      exit(0);
    }
    Utils::vmessage(1, "..... done\n");
  }
  return set;
}
