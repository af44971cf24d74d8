#include "classRef.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "heapDumpData.h"
#include "leakCandidate.h"
#include "strongComponent.h"
#include "utils.h"

namespace {

struct ClassRefLink {
  int32_t name_index;
  uint32_t klass;
  uint32_t holder;
  uint32_t held;
  int type; // 1 static, 2 instance, 3 object array element
  uint32_t signature_id, name_id;
};
typedef std::vector<ClassRefLink> Chain;

struct MultiKlassEntry {
  int32_t name_index;
  std::vector<uint32_t> classes;
  std::vector<Chain> chains;
};

bool fs_isClass(const EntryBase *n) { return n->isObject() && n->kind() == KIND_KLASS; }

// Marks the class objects and every node that reaches one.
class ClassMarkVisitor : public MarkingVisitor {
public:
  explicit ClassMarkVisitor(StrongComponentSet *cs) : MarkingVisitor(cs) {}
  int classes = 0;

protected:
  bool qualifies(EntryBase *n) override {
    if (n->isObject())
      return fs_isClass(n);
    StrongComponent *c = static_cast<StrongComponent *>(n);
    for (uint32_t i = 0; i < c->member_count; ++i)
      if (fs_isClass(c->members[i]))
        return true;
    return false;
  }
  void on_marked(EntryBase *n) override {
    if (fs_isClass(n))
      ++classes;
  }
};

} // namespace

void detect_class_references(HeapDumpDataSet *set, StrongComponentSet *cs, FILE *out) {
  HeapDumpData *d = set->data.back().get();
  Utils::message(1, "==> Resolve leak class\n");
  std::vector<MultiKlassEntry> groups;
  std::unordered_map<int32_t, size_t> byName;
  d->for_each_object([&](EntryBase *n) {
    if (n->kind() != KIND_KLASS || !n->isObject())
      return;
    int32_t name = d->class_name_index(n);
    auto it = byName.find(name);
    if (it == byName.end()) {
      byName.emplace(name, groups.size());
      groups.push_back({name, {}, {}});
      it = byName.find(name);
    }
    groups[it->second].classes.push_back(n->serial);
  });
  std::vector<MultiKlassEntry> multi;
  for (MultiKlassEntry &g : groups)
    if (g.classes.size() > 1)
      multi.push_back(std::move(g));

  Utils::message(1, "==> Mark output candidate objects\n");
  d->clear_marks();
  d->for_each_object([](EntryBase *n) { n->flags &= ~FLAG_MARK2; });
  ClassMarkVisitor v(cs);
  for (const RootData *r : d->root_order())
    if (EntryBase *n = d->find(r->serial))
      n->traverse(d, &v, 0, nullptr, -1);
  d->clear_marks();
  Utils::message(1, "total marked: %d (class:%d)\n", v.marked, v.classes);
  Utils::message(1, "num klass: %d\n", d->klass_count);

  Utils::message(1, "==> Resolve upper objects for class object leak detection\n");
  std::unique_ptr<UpperObjectTable> upper(resolve_upper_objects(set));

  Utils::message(1, "==> Detect abnormal class references\n");
  for (MultiKlassEntry &g : multi) {
    size_t room = 0;
    for (uint32_t c : g.classes)
      if (const std::vector<EntryBase *> *h = upper->find(c))
        room += h->size();
    g.chains.reserve(room);
    for (uint32_t cserial : g.classes) {
      EntryBase *c = d->find(cserial);
      if (!c || !(c->flags & FLAG_MARK2))
        continue;
      const std::vector<EntryBase *> *hs = upper->find(cserial);
      if (!hs)
        continue;
      for (EntryBase *first : *hs) {
        Chain chain;
        std::unordered_set<uint32_t> inChain = {cserial};
        EntryBase *cur = c, *h = first;
        while (h) {
          int type = fs_isClass(h) ? 1 : (h->isObject() && h->kind() == KIND_OBJARRAY) ? 3 : 2;
          uint32_t sig = 0, name = 0;
          if (type != 3)
            for (uint32_t i = 0; i < h->getRefNum(); ++i)
              if (h->getRefs()[i] == cur->serial)
                d->field_ids_of_reference(h, static_cast<int>(i), &sig, &name);
          chain.push_back({g.name_index, cserial, h->serial, cur->serial, type, sig, name});
          inChain.insert(h->serial);
          const std::vector<EntryBase *> *up = upper->find(h->serial);
          if (!up || up->size() != 1)
            break;
          // A ring of single holders (a root inside a cycle) ends the
          // chain at the holder that would repeat.
          if (!inChain.insert((*up)[0]->serial).second)
            break;
          inChain.erase((*up)[0]->serial);
          cur = h;
          h = (*up)[0];
        }
        g.chains.push_back(std::move(chain));
      }
    }
  }

  Utils::output2file(out, "\n***** Multi Class Information (MultiKlassEntry version) *****\n");
  static const char *const refKinds[] = {nullptr, "STATIC", "INSTANCE", "OBJ ARRAY ELEMENT"};
  auto text = [d](uint32_t id) {
    const char *t = d->name_of(id);
    return t ? t : "(null)";
  };
  for (size_t gi = 0; gi < multi.size(); ++gi) {
    MultiKlassEntry &g = multi[gi];
    const char *name = NameTable::instance().text(g.name_index);
    Utils::output2file(out, "[%3d] num:%4d class name: %s\n", static_cast<int>(gi), static_cast<int>(g.classes.size()),
                       name ? name : "(null)");
    for (uint32_t cserial : g.classes) {
      EntryBase *c = d->find(cserial);
      uint32_t loader = c && fs_isClass(c) ? static_cast<KlassEntry *>(c)->loader : 0;
      for (const Chain &chain : g.chains) {
        if (chain.empty() || chain[0].klass != cserial)
          continue;
        bool viaLoader = false;
        for (const ClassRefLink &l : chain)
          viaLoader = viaLoader || l.holder == loader;
        if (viaLoader)
          continue;
        Utils::output2file(out, "  [id:%8u] (loader:%8u)\n", cserial, loader);
        int indent = 4;
        for (const ClassRefLink &l : chain) {
          EntryBase *h = d->find(l.holder);
          const char *hname = h ? d->class_name(h) : nullptr;
          Utils::output2file(out, "%*s", indent, "");
          Utils::output2file(out, "<-%u Type:%02x Class:%s ", l.holder, h ? h->kind() : 0, hname ? hname : "(null)");
          Utils::output2file(out, "FSig:%s FName:%s ", text(l.signature_id), text(l.name_id));
          Utils::output2file(out, "%s", refKinds[l.type]);
          Utils::output2file(out, "\n");
          indent += 2;
        }
      }
    }
  }
}
