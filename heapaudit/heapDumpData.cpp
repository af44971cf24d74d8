// The heap model's operations and the two-pass dump reader.
#include "heapDumpData.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "callTrace.h"
#include "utils.h"

static const char fs_source[] = "heapDumpData";

uint32_t word_size = 4;
uint32_t id_size = 4;
int hex_width = 8;

// --- names ---

NameTable &NameTable::instance() {
  static NameTable t;
  return t;
}

NameTable::NameTable() {
  for (const char *s : {"(GC_ROOT)", "(StComp)", "java/util/Hashtable$Entry", "java/util/HashMap$Entry"})
    intern(s, strlen(s));
}

// Interned before main, as the detection's special names must be.
static const bool fs_namesReady = (NameTable::instance(), true);

int32_t NameTable::intern(const char *text, size_t length) {
  if (!text) {
    fputs("[NameEntry] name is NULL\n", stderr);
    abort();
  }
  std::string_view key(text, length);
  auto it = by_text_.find(key);
  if (it != by_text_.end())
    return it->second;
  int32_t index = static_cast<int32_t>(by_index_.size());
  texts_.emplace_back(text, length);
  by_index_.push_back(texts_.back().c_str());
  by_text_.emplace(std::string_view(texts_.back()), index);
  return index;
}

int32_t NameTable::find(const char *text, size_t length) const {
  auto it = by_text_.find(std::string_view(text, length));
  return it == by_text_.end() ? -1 : it->second;
}

const char *NameTable::text(int32_t index) const {
  return index >= 0 && static_cast<size_t>(index) < by_index_.size() ? by_index_[static_cast<size_t>(index)] : nullptr;
}

// --- small pieces ---

int compare_time(const DumpTime &a, const DumpTime &b) {
  const int x[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const int y[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  for (int i = 0; i < 6; ++i)
    if (x[i] != y[i])
      return x[i] < y[i] ? -1 : 1;
  return 0;
}

uint32_t prim_size(uint32_t type) {
  switch (type) {
  case 4:
  case 8:
    return 1;
  case 5:
  case 9:
    return 2;
  case 0:
  case 2:
  case 6:
  case 10:
    return 4;
  case 7:
  case 11:
    return 8;
  default:
    Utils::unexpected_kind("utils", __LINE__);
  }
}

bool StrongComponent::is_member(uint32_t s) const {
  uint32_t lo = 0, hi = member_count;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (members[mid]->serial < s)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < member_count && members[lo]->serial == s;
}

uint32_t *Arena::words(size_t n) { return static_cast<uint32_t *>(bytes(n * sizeof(uint32_t))); }

void *Arena::bytes(size_t n) {
  size_t units = (n + 7) / 8;
  if (units == 0)
    return nullptr;
  if (units > left_) {
    size_t chunk = units > 65536 ? units : 65536;
    chunks_.emplace_back(new uint64_t[chunk]);
    next_ = chunks_.back().get();
    left_ = chunk;
  }
  void *p = next_;
  next_ += units;
  left_ -= units;
  return p;
}

// --- the walk ---

bool class_link_step(const HeapDumpData *d, EntryBase *n, uint32_t j, bool super_test, EntryBase **child) {
  *child = nullptr;
  KlassEntry *k;
  if (!n->isObject()) {
    StrongComponent *c = static_cast<StrongComponent *>(n);
    if (j / 3 >= c->member_count)
      return false;
    EntryBase *m = c->members[j / 3];
    if (m->kind() != KIND_KLASS || !m->isObject())
      return true;
    k = static_cast<KlassEntry *>(m);
    j %= 3;
  } else if (n->kind() == KIND_KLASS && j < 3) {
    k = static_cast<KlassEntry *>(n);
  } else {
    return false;
  }
  uint32_t s = j == 0 ? k->loader : j == 1 ? k->signers : (k->super || !super_test) ? k->protection_domain : 0;
  *child = s ? d->find(s) : nullptr;
  return true;
}

namespace {

struct Frame {
  EntryBase *node;
  EntryBase *holder;
  int depth;
  int slot;
  uint32_t next; // next child step: slots, then the class's extra steps
  long result;
};

// The child of step i of node n (slot index in *slot), or null when the
// step names nothing; false when n has no such step.
bool fs_child(HeapDumpData *d, EntryBase *n, uint32_t i, EntryBase **child, int *slot) {
  uint32_t refs = n->getRefNum();
  *child = nullptr;
  if (i < refs) {
    uint32_t s = n->getRefs()[i];
    *slot = static_cast<int>(i);
    *child = s ? d->find(s) : nullptr;
    return true;
  }
  *slot = -1;
  return class_link_step(d, n, i - refs, n->isObject(), child);
}

} // namespace

long EntryBase::traverse(HeapDumpData *d, Visitor *v, int depth, EntryBase *holder, int slot) {
  std::vector<Frame> stack;
  long total = 0;
  auto give = [&](long r) {
    if (stack.empty())
      total += r;
    else
      stack.back().result += r;
  };
  // Opens a node: pushed when enter and visit accept, else its result
  // goes to the holder at once.
  auto open = [&](EntryBase *n, int dp, EntryBase *h, int sl) {
    for (;;) {
      Frame f{n, h, dp, sl, 0, 0};
      v->redirect = nullptr;
      if (!v->enter(d, n, dp, h, sl, &f.result) || !v->visit(d, n, dp, h, sl, &f.result)) {
        if (v->redirect) {
          n = v->redirect;
          h = nullptr;
          sl = -1;
          give(f.result);
          continue;
        }
        give(f.result);
        return;
      }
      stack.push_back(f);
      return;
    }
  };
  open(this, depth, holder, slot);
  while (!stack.empty()) {
    Frame &f = stack.back();
    EntryBase *child;
    int sl;
    if (fs_child(d, f.node, f.next++, &child, &sl)) {
      if (child)
        open(child, f.depth + 1, f.node, sl);
      continue;
    }
    v->leave(d, f.node, f.depth, f.holder, f.slot, &f.result);
    long r = f.result;
    stack.pop_back();
    give(r);
  }
  return total;
}

void walk_roots(HeapDumpData *dump, Visitor *v) {
  for (const RootData *r : dump->root_order())
    if (EntryBase *n = dump->find(r->serial))
      n->traverse(dump, v, -1, nullptr, -1);
}

// --- the dump's tables ---

HeapDumpData::~HeapDumpData() { delete time; }

void HeapDumpData::add_node(EntryBase *node) {
  uint32_t s = node->serial;
  if (s >= by_serial_.size())
    by_serial_.resize(s + 1);
  if (EntryBase *old = by_serial_[s]) {
    // An id given twice: the later record takes the serial; the earlier
    // node stays in its chain at its own record position.
    auto odd = odd_positions_.find(s);
    uint32_t pos = odd == odd_positions_.end() ? s : odd->second;
    auto &h = hidden_[s % OBJECT_TABLE_SIZE];
    h.insert(std::upper_bound(h.begin(), h.end(), pos,
                              [](uint32_t p, const std::pair<uint32_t, EntryBase *> &e) { return p > e.first; }),
             {pos, old});
  }
  by_serial_[s] = node;
  if (adding_position != s)
    odd_positions_[s] = adding_position;
  else
    odd_positions_.erase(s);
}

KlassEntry *HeapDumpData::new_klass() { return klasses_.next(); }
InstanceEntry *HeapDumpData::new_instance() { return instances_.next(); }
ObjArrayEntry *HeapDumpData::new_obj_array() { return obj_arrays_.next(); }
PrimArrayEntry *HeapDumpData::new_prim_array() { return prims_.next(); }
StrongComponent *HeapDumpData::new_component() { return components_.next(); }

std::vector<const RootData *> HeapDumpData::root_order() const {
  // Chains by serial mod 100003, the newest first in each.
  std::vector<uint32_t> start(SMALL_TABLE_SIZE + 1, 0);
  for (const RootData &r : roots)
    ++start[r.serial % SMALL_TABLE_SIZE + 1];
  for (uint32_t c = 0; c < SMALL_TABLE_SIZE; ++c)
    start[c + 1] += start[c];
  std::vector<const RootData *> out(roots.size());
  for (size_t i = roots.size(); i-- > 0;)
    out[start[roots[i].serial % SMALL_TABLE_SIZE]++] = &roots[i];
  return out;
}

std::vector<const CallTraceEntry *> HeapDumpData::call_trace_order() const {
  std::vector<uint32_t> start(SMALL_TABLE_SIZE + 1, 0);
  auto chain = [](const CallTraceEntry &e) { return (e.env_id >> 3) % SMALL_TABLE_SIZE; };
  for (const CallTraceEntry &e : call_traces)
    ++start[chain(e) + 1];
  for (uint32_t c = 0; c < SMALL_TABLE_SIZE; ++c)
    start[c + 1] += start[c];
  std::vector<const CallTraceEntry *> out(call_traces.size());
  for (size_t i = call_traces.size(); i-- > 0;)
    out[start[chain(call_traces[i])]++] = &call_traces[i];
  return out;
}

KlassEntry *HeapDumpData::class_of(const EntryBase *node) const {
  if (!node || !node->isObject())
    return nullptr;
  EntryBase *k = node->klass ? find(node->klass) : nullptr;
  return k && k->kind() == KIND_KLASS && k->isObject() ? static_cast<KlassEntry *>(k) : nullptr;
}

int32_t HeapDumpData::class_name_index(const EntryBase *node) const {
  KlassEntry *k = class_of(node);
  if (!k)
    return -1;
  auto it = id_names.find(k->name_id);
  return it == id_names.end() ? -1 : it->second->name_index;
}

const char *HeapDumpData::class_name(const EntryBase *node) const {
  return NameTable::instance().text(class_name_index(node));
}

const char *HeapDumpData::name_of(uint32_t id) const {
  auto it = id_names.find(id);
  return it == id_names.end() ? nullptr : NameTable::instance().text(it->second->name_index);
}

uint32_t HeapDumpData::method_count(uint32_t klass_serial) const {
  auto *self = const_cast<HeapDumpData *>(this);
  if (!method_counts_ready_) {
    for (const MethodEntry *m : method_list)
      ++self->method_counts_[m->klass];
    self->method_counts_ready_ = true;
  }
  auto it = method_counts_.find(klass_serial);
  return it == method_counts_.end() ? 0 : it->second;
}

uint32_t HeapDumpData::klass_size(KlassEntry *k) {
  if (k->size_klass)
    return k->size_klass;
  uint32_t m = method_count(k->serial);
  uint32_t i = k->instance_field_count, s = k->static_field_count;
  EntryBase *sup = k->super ? find(k->super) : nullptr;
  if (sup && sup->kind() == KIND_KLASS && sup->isObject()) {
    KlassEntry *p = static_cast<KlassEntry *>(sup);
    // A super class with more fields than the class would wrap the
    // unsigned difference to a huge size: such a difference counts 0.
    i = i > p->instance_field_count ? i - p->instance_field_count : 0;
    s = s > p->static_field_count ? s - p->static_field_count : 0;
  }
  k->size_klass = (m + i + s + 600) / word_size;
  return k->size_klass;
}

uint32_t HeapDumpData::size_of(EntryBase *node) {
  switch (node->kind()) {
  case KIND_KLASS:
    return klass_size(static_cast<KlassEntry *>(node));
  case KIND_INSTANCE: {
    // An instance whose class is not in the dump has no size of its own.
    KlassEntry *k = class_of(node);
    return k ? k->size_instance : 0;
  }
  case KIND_OBJARRAY:
    return static_cast<ObjArrayEntry *>(node)->length + 3;
  case KIND_PRIMARRAY: {
    PrimArrayEntry *p = static_cast<PrimArrayEntry *>(node);
    return static_cast<uint32_t>(static_cast<uint64_t>(p->length) * prim_size(p->element_type) / word_size) + 3;
  }
  default:
    Utils::message(2, "%s(%d): unexpected EntryBase kind (%x)\n", "utils", __LINE__, node->kind());
    exit(-1);
  }
}

void HeapDumpData::clear_marks() {
  for (EntryBase *e : by_serial_)
    if (e)
      e->flags &= ~FLAG_VISIT;
  for (auto &h : hidden_)
    for (auto &p : h.second)
      p.second->flags &= ~FLAG_VISIT;
}

bool HeapDumpData::is_weak_map(const EntryBase *node) const {
  if (!node || !node->isObject())
    return false;
  const char *n = class_name(node);
  return n && (strcmp(n, "java/util/WeakHashMap") == 0 || strcmp(n, "java/util/WeakHashMap$Entry") == 0);
}

void HeapDumpData::field_ids_of_reference(EntryBase *holder, int slot, uint32_t *sig, uint32_t *name) const {
  *sig = *name = 0;
  if (!holder || slot < 0)
    return;
  uint32_t i = static_cast<uint32_t>(slot);
  if (holder->kind() == KIND_KLASS && holder->isObject()) {
    KlassEntry *k = static_cast<KlassEntry *>(holder);
    if (i < k->static_field_count) {
      *sig = k->static_sig_ids[i];
      *name = k->static_name_ids[i];
    }
  } else if (holder->kind() == KIND_INSTANCE && holder->isObject()) {
    KlassEntry *k = class_of(holder);
    if (k && i < k->instance_field_count) {
      *sig = k->field_sig_ids[i];
      *name = k->field_name_ids[i];
    }
  }
}

void HeapDumpData::field_of_reference(uint32_t holder, int slot, bool component, const char **klass_name,
                                      const char **signature, const char **name) const {
  *signature = *name = nullptr;
  if (component) {
    *klass_name = NameTable::instance().text(NameTable::STCOMP);
    return;
  }
  EntryBase *h = find(holder);
  *klass_name = class_name(h);
  uint32_t sig = 0, nm = 0;
  field_ids_of_reference(h, slot, &sig, &nm);
  if (sig || nm) {
    *signature = name_of(sig);
    *name = name_of(nm);
  }
}

// --- reading ---

namespace {

// Object ids to serials while a dump is read: open addressing, the later
// serial of an id given twice wins.
class IdSerialTable {
public:
  void put(uint32_t id, uint32_t serial) {
    if ((count_ + 1) * 4 > slots_.size() * 3)
      grow();
    size_t i = slot(id);
    if (!slots_[i].serial)
      ++count_;
    slots_[i] = {id, serial};
  }
  void prefetch(uint32_t id) const {
    if (!slots_.empty())
      __builtin_prefetch(&slots_[home(id)]);
  }
  uint32_t get(uint32_t id) const {
    if (slots_.empty())
      return 0;
    return slots_[slot(id)].serial;
  }

private:
  struct Entry {
    uint32_t id, serial; // serial 0: free
  };
  // Fibonacci hashing: the top bits of the product spread ids that share
  // their low bits (aligned addresses) over the whole table.
  size_t home(uint32_t id) const {
    return static_cast<size_t>((static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  size_t slot(uint32_t id) const {
    size_t mask = slots_.size() - 1;
    size_t i = home(id);
    while (slots_[i].serial && slots_[i].id != id)
      i = (i + 1) & mask;
    return i;
  }
  void grow() {
    std::vector<Entry> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Entry{0, 0});
    shift_ = 64;
    for (size_t n = slots_.size(); n > 1; n >>= 1)
      --shift_;
    count_ = 0;
    for (const Entry &e : old)
      if (e.serial)
        put(e.id, e.serial);
  }
  std::vector<Entry> slots_;
  size_t count_ = 0;
  unsigned shift_ = 64;
};

class Reader {
public:
  Reader(FILE *f, const char *name) : f_(f), name_(name) {
    fseek(f, 0, SEEK_END);
    long sz = ftell(f);
    size_ = sz > 0 ? static_cast<uint64_t>(sz) : 0;
    fseek(f, 0, SEEK_SET);
    buf_.resize(1 << 20);
  }
  ~Reader() { fclose(f_); }

  // One byte of a tag; false at the end of the file.
  bool tag(uint8_t *t) {
    record_start_ = offset_;
    if (!fill(1)) {
      if (ferror(f_))
        Utils::fail("%s: read error at offset %llu\n", name_, static_cast<unsigned long long>(offset_));
      return false;
    }
    *t = buf_[pos_++];
    ++offset_;
    tag_ = *t;
    return true;
  }
  uint8_t u8() {
    need(1);
    ++offset_;
    return buf_[pos_++];
  }
  uint16_t u16() {
    need(2);
    uint16_t v = static_cast<uint16_t>(buf_[pos_] << 8 | buf_[pos_ + 1]);
    pos_ += 2;
    offset_ += 2;
    return v;
  }
  uint32_t u32() {
    need(4);
    const uint8_t *b = &buf_[pos_];
    uint32_t v = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                 static_cast<uint32_t>(b[2]) << 8 | b[3];
    pos_ += 4;
    offset_ += 4;
    return v;
  }
  // An id, reduced to its low 32 bits.
  uint32_t id() {
    if (id_size == 8)
      u32();
    return u32();
  }
  void skip(uint64_t n) {
    while (n > 0) {
      size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, buf_.size()));
      need(chunk);
      pos_ += chunk;
      offset_ += chunk;
      n -= chunk;
    }
  }
  void bytes(char *out, uint32_t n) {
    while (n > 0) {
      size_t chunk = std::min<size_t>(n, buf_.size());
      need(chunk);
      memcpy(out, &buf_[pos_], chunk);
      pos_ += chunk;
      offset_ += chunk;
      out += chunk;
      n -= static_cast<uint32_t>(chunk);
    }
  }
  // A count of items of unit bytes each must fit in what the file holds.
  uint32_t count(uint64_t unit) {
    uint32_t n = u32();
    if (unit && static_cast<uint64_t>(n) * unit > size_ - offset_)
      Utils::fail("%s: the record (tag 0x%02x) at offset %llu holds a count (%u) that runs past the end of the file\n",
                  name_, tag_, static_cast<unsigned long long>(record_start_), n);
    return n;
  }

private:
  bool fill(size_t n) {
    if (len_ - pos_ >= n)
      return true;
    memmove(&buf_[0], &buf_[pos_], len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
    while (len_ < n) {
      size_t got = fread(&buf_[len_], 1, buf_.size() - len_, f_);
      if (got == 0)
        return false;
      len_ += got;
    }
    return true;
  }
  void need(size_t n) {
    if (fill(n))
      return;
    if (ferror(f_))
      Utils::fail("%s: read error at offset %llu\n", name_, static_cast<unsigned long long>(offset_));
    Utils::fail("%s: the record (tag 0x%02x) at offset %llu is cut short by the end of the file\n", name_, tag_,
                static_cast<unsigned long long>(record_start_));
  }

  FILE *f_;
  const char *name_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, len_ = 0;
  uint64_t offset_ = 0, size_ = 0, record_start_ = 0;
  uint8_t tag_ = 0;
};

struct Pass {
  HeapDumpData *d;
  HeapDumpDataSet *set;
  int index;
  const ReadOptions *opt;
  IdSerialTable *ids;
  bool second;
  uint32_t next_serial = 1;
  uint32_t position = 0;   // first-pass serial of the record being read
  uint8_t age_so_far = 0;  // the first dump's age as read in this pass

  uint32_t resolve(uint32_t id) const { return id ? ids->get(id) : 0; }
  bool in_perm(uint32_t id) const { return id >= d->perm_start && id < d->perm_end; }
  // Dropped in both passes alike: the first dump's age is the one read
  // so far in the pass, the same at the same record of either pass.
  bool dropped(uint8_t age) const {
    if (!opt->detect_kind || d->format == 1)
      return false;
    uint8_t first = index == 0 ? age_so_far : set->data[0]->current_age;
    return age <= first;
  }
};

void fs_header(Reader &r, HeapDumpData *d, HeapDumpDataSet *set, bool second) {
  d->format = r.u16();
  if (d->format & 0x8000) {
    id_size = 8;
    word_size = 8;
    hex_width = 16;
  }
  if (second) {
    Utils::message(1, (d->format & 0x8000) ? "Data type : 64bit\n" : "Data type : 32bit\n");
    Utils::message(1, "Format ver: %u\n", d->format & 0x7fff);
  }
  d->data_level = r.u8();
  if (second)
    Utils::message(1, "Data level: %d\n", d->data_level);
  DumpTime t;
  t.year = static_cast<uint16_t>(r.u16() + 1900);
  t.month = static_cast<uint8_t>(r.u8() + 1);
  t.day = r.u8();
  t.hour = r.u8();
  t.minute = r.u8();
  t.second = r.u8();
  uint8_t modes = r.u8(), num = r.u8();
  uint32_t ts = r.id(), te = r.id(), ps = r.id(), pe = r.id();
  if (!second)
    return;
  d->time = new DumpTime(t);
  Utils::message(1, "Dump time : %4u/%02u/%02u %02u:%02u:%02u\n", t.year, t.month, t.day, t.hour, t.minute, t.second);
  if (set->previous_time && compare_time(*set->previous_time, t) >= 0)
    fputs("Data reading order must be from old to new...\n", stderr);
  set->previous_time = d->time;
  d->dump_mode_count = modes;
  d->dump_num = num;
  Utils::message(1, "Total dump mode count: %d\n", d->dump_mode_count);
  Utils::message(1, "Dump num: %d\n", d->dump_num);
  if (set->dump_mode_count == 0)
    set->dump_mode_count = d->dump_mode_count;
  else if (set->dump_mode_count != d->dump_mode_count)
    fputs("[Warning] Dump_mode_count of this data is different from a count of other data\n", stderr);
  d->tenured_start = ts;
  d->tenured_end = te;
  d->perm_start = ps;
  d->perm_end = pe;
  Utils::message(1, "[Tenured] %0*x - %0*x\n", hex_width, ts, hex_width, te);
  Utils::message(1, "[Perm]    %0*x - %0*x\n", hex_width, ps, hex_width, pe);
}

void fs_printClass(HeapDumpData *d, KlassEntry *k) {
  auto text = [d](uint32_t id) {
    const char *t = d->name_of(id);
    return t ? t : "(null)";
  };
  fprintf(stderr, "----------------age(%u)\n", k->age());
  fprintf(stderr, "object id: %8u super: %8u loader: %8u, signer: %8u domain: %8u\n", k->serial, k->super, k->loader,
          k->signers, k->protection_domain);
  fprintf(stderr, "name  : %s\n", text(k->name_id));
  fprintf(stderr, "source: %s\n", text(k->source_id));
  fprintf(stderr, "sizeI : %u\n", k->size_instance);
  fprintf(stderr, "sizeK : %u\n", d->klass_size(k));
  fprintf(stderr, "instance field:\n");
  for (uint32_t i = 0; i < k->instance_field_count; ++i) {
    if (!k->field_sig_ids[i])
      fprintf(stderr, " [%2d] (null) null\n", i);
    else
      fprintf(stderr, " [%2d] (%s) %s\n", i, text(k->field_sig_ids[i]), text(k->field_name_ids[i]));
  }
  fprintf(stderr, "static field:\n");
  for (uint32_t i = 0; i < k->static_field_count; ++i) {
    if (!k->static_sig_ids[i])
      fprintf(stderr, " [%2d] (null) null\n", i);
    else
      fprintf(stderr, " [%2d] (%s) %s\n", i, text(k->static_sig_ids[i]), text(k->static_name_ids[i]));
  }
}

// Reads one object record (tags 0x20-0x23) in either pass.
void fs_object(Reader &r, Pass &p, uint8_t tag) {
  HeapDumpData *d = p.d;
  uint8_t age = r.u8();
  uint32_t id = r.id();
  const uint32_t ids = id_size;
  if (!p.second) {
    bool keep = true;
    switch (tag) {
    case 0x20: {
      r.skip(6ull * ids + 4);
      if (d->format >= 2)
        r.skip(4);
      uint32_t n = r.count(2ull * ids);
      r.skip(2ull * ids * n);
      uint32_t m = r.count(3ull * ids + 1);
      r.skip((3ull * ids + 1) * m);
      break;
    }
    case 0x21: {
      r.id();
      uint32_t n = r.count(ids + 1);
      r.skip((ids + 1ull) * n);
      break;
    }
    case 0x22: {
      r.id();
      uint32_t n = r.count(ids);
      r.skip(static_cast<uint64_t>(ids) * n);
      break;
    }
    default:
      if (d->format >= 2)
        r.id();
      r.u8();
      r.u32();
      keep = !p.dropped(age);
      break;
    }
    if (keep) {
      p.ids->put(id, p.next_serial);
      ++p.next_serial;
    }
    return;
  }

  ++d->record_count;
  EntryBase *node = nullptr;
  switch (tag) {
  case 0x20: {
    KlassEntry *k = d->new_klass();
    k->super = p.resolve(r.id());
    k->loader = p.resolve(r.id());
    k->signers = p.resolve(r.id());
    k->protection_domain = p.resolve(r.id());
    k->name_id = r.id();
    k->source_id = r.id();
    int32_t size = static_cast<int32_t>(r.u32());
    k->size_instance = size < 0 ? 0 : static_cast<uint32_t>(size);
    if (d->format == 1)
      k->size_instance /= word_size;
    k->size_klass = d->format >= 2 ? r.u32() : 0;
    k->instance_field_count = r.count(2ull * ids);
    k->field_sig_ids = d->arena.words(k->instance_field_count);
    k->field_name_ids = d->arena.words(k->instance_field_count);
    for (uint32_t i = 0; i < k->instance_field_count; ++i) {
      k->field_sig_ids[i] = r.id();
      k->field_name_ids[i] = r.id();
    }
    k->static_field_count = r.count(3ull * ids + 1);
    k->static_sig_ids = d->arena.words(k->static_field_count);
    k->static_name_ids = d->arena.words(k->static_field_count);
    k->static_values = d->arena.words(k->static_field_count);
    for (uint32_t i = 0; i < k->static_field_count; ++i) {
      k->static_sig_ids[i] = r.id();
      k->static_name_ids[i] = r.id();
      r.u8();
      k->static_values[i] = p.resolve(r.id());
    }
    ++d->klass_count;
    node = k;
    break;
  }
  case 0x21: {
    InstanceEntry *e = d->new_instance();
    e->klass = p.resolve(r.id());
    e->ref_count = r.count(ids + 1);
    e->refs = d->arena.words(e->ref_count);
    // Ids first, then their serials: the table's cache misses overlap.
    for (uint32_t i = 0; i < e->ref_count; ++i) {
      r.u8();
      e->refs[i] = r.id();
      p.ids->prefetch(e->refs[i]);
    }
    for (uint32_t i = 0; i < e->ref_count; ++i)
      e->refs[i] = p.resolve(e->refs[i]);
    node = e;
    break;
  }
  case 0x22: {
    ObjArrayEntry *e = d->new_obj_array();
    e->klass = p.resolve(r.id());
    e->length = r.count(ids);
    e->elements = d->arena.words(e->length);
    for (uint32_t i = 0; i < e->length; ++i) {
      e->elements[i] = r.id();
      p.ids->prefetch(e->elements[i]);
    }
    for (uint32_t i = 0; i < e->length; ++i)
      e->elements[i] = p.resolve(e->elements[i]);
    node = e;
    break;
  }
  default: {
    uint32_t klass = d->format >= 2 ? p.resolve(r.id()) : 0;
    uint8_t type = r.u8();
    uint32_t length = r.u32();
    if (p.dropped(age))
      return;
    PrimArrayEntry *e = d->new_prim_array();
    e->klass = klass;
    e->element_type = type;
    e->length = length;
    node = e;
    break;
  }
  }
  node->serial = p.ids->get(id);
  if (tag == 0x20)
    node->klass = node->serial;
  node->set_kind(tag);
  node->set_age(age);
  if (p.in_perm(id))
    node->flags |= FLAG_PERM;
  d->adding_position = ++p.position;
  d->add_node(node);
  if (tag == 0x20 && Utils::verbose && Utils::silence_level >= 8)
    fs_printClass(d, static_cast<KlassEntry *>(node));
}

void fs_other(Reader &r, Pass &p, uint8_t tag) {
  HeapDumpData *d = p.d;
  const uint32_t ids = id_size;
  switch (tag) {
  case 0x01:
  case 0x02:
  case 0x03:
  case 0x04:
  case 0x05:
  case 0x06:
  case 0x07: {
    RootData root = {tag, 0, 0, 0, 0};
    root.serial = p.resolve(r.id());
    if (tag == 0x01)
      root.global_ref_id = r.id();
    else if (tag == 0x02 || tag == 0x03 || tag == 0x04 || tag == 0x06)
      root.thread_id = r.id();
    if (tag == 0x02 || tag == 0x03)
      root.frame = r.u32();
    // A summary type dump has no root table: such a record is read over.
    if (p.second && d->has_roots)
      d->roots.push_back(root);
    return;
  }
  case 0x11: {
    uint8_t age = r.u8();
    p.age_so_far = age;
    if (p.second)
      d->current_age = age;
    return;
  }
  case 0x24: {
    uint32_t id = r.id();
    uint32_t len = r.count(1);
    if (!p.second) {
      r.skip(len);
      return;
    }
    IdNameEntry *e = static_cast<IdNameEntry *>(d->arena.bytes(sizeof(IdNameEntry)));
    e->id = id;
    e->length = len;
    e->text = static_cast<char *>(d->arena.bytes(len + 1));
    r.bytes(e->text, len);
    e->text[len] = '\0';
    e->name_index = NameTable::instance().intern(e->text, len);
    d->id_names[id] = e;
    return;
  }
  case 0x25: {
    uint32_t mid = r.id();
    uint32_t cls = r.id();
    uint32_t name = r.id();
    if (p.second && d->has_methods) {
      MethodEntry *m = static_cast<MethodEntry *>(d->arena.bytes(sizeof(MethodEntry)));
      *m = {p.resolve(cls), mid, name};
      d->methods[mid] = m;
      d->method_list.push_back(m);
    }
    return;
  }
  case 0x26: {
    uint32_t n = r.count(ids + 8ull);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t cls = r.id();
      uint32_t count = r.u32();
      uint32_t words = r.u32();
      if (!p.second || !d->has_klass_sizes)
        continue;
      KlassSizeRecord k = {p.resolve(cls), count, words};
      Utils::vmessage(8, "klass:%08x  size:%u (word)\n", k.klass, k.total_words);
      d->klass_sizes.push_back(k);
    }
    return;
  }
  case 0x30: {
    uint32_t env = r.id();
    uint32_t n = r.count(4ull + ids);
    CallFrame *frames = p.second ? static_cast<CallFrame *>(d->arena.bytes(sizeof(CallFrame) * n)) : nullptr;
    for (uint32_t i = 0; i < n; ++i) {
      int32_t line = static_cast<int32_t>(r.u32());
      uint32_t mid = r.id();
      if (frames)
        frames[i] = {line, mid};
    }
    if (p.second && d->has_call_traces)
      d->call_traces.push_back({env, static_cast<int32_t>(n), frames});
    return;
  }
  case 0xFF:
    Utils::fail("found ZENTRAK_ROOT_UNKNOWN dump\n");
  default:
    fprintf(stderr, "%s:%d Unexpected kind\n", fs_source, __LINE__);
    abort();
  }
}

void fs_records(Reader &r, Pass &p) {
  TimeMeasure t;
  t.start(p.second ? "data read" : "data read (dummy)");
  uint8_t tag;
  while (r.tag(&tag)) {
    if (!p.second)
      Utils::vmessage(10, "[DUMMYREAD] type=%u\n", tag);
    if (tag >= 0x20 && tag <= 0x23)
      fs_object(r, p, tag);
    else
      fs_other(r, p, tag);
  }
  t.stop();
}

// Version 1 primitive arrays take the class of the last holder, in
// object-table order, that references them.
void fs_resolvePrimArrays(HeapDumpData *d) {
  TimeMeasure t;
  t.start("resolvePrimArray");
  d->for_each_object([d](EntryBase *h) {
    if (h->kind() == KIND_PRIMARRAY)
      return;
    uint32_t n = h->getRefNum();
    uint32_t *refs = h->getRefs();
    for (uint32_t i = 0; i < n; ++i) {
      EntryBase *t = refs[i] ? d->find(refs[i]) : nullptr;
      if (t && t->kind() == KIND_PRIMARRAY && t->isObject())
        t->klass = h->klass;
    }
  });
  t.stop();
}

} // namespace

HeapDumpDataSet::HeapDumpDataSet(int n) : count(n) {
  for (int i = 0; i < n; ++i) {
    data.emplace_back(new HeapDumpData);
    data.back()->owner = this;
  }
  class_size_info.assign(static_cast<size_t>(n), nullptr);
}

void read_dump(HeapDumpDataSet *set, int index, const std::vector<const char *> &names, const ReadOptions &opt) {
  if (names.empty()) {
    fputs("No input data names\n", stderr);
    exit(1);
  }
  HeapDumpData *d = set->data[static_cast<size_t>(index)].get();
  const char *name = static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)] : nullptr;
  FILE *f = name ? fopen(name, "rb") : nullptr;
  if (!f) {
    fprintf(stderr, "Cannot open file %s ..\n", name ? name : "(no data name)");
    exit(-1);
  }
  IdSerialTable ids;
  Utils::vmessage(1, "[create IdSerialTable] Input file: %s\n", name);
  Pass first{d, set, index, &opt, &ids, false};
  {
    Reader r(f, name);
    fs_header(r, d, set, false);
    fs_records(r, first);
  }
  d->max_serial = first.next_serial;
  Utils::message(2, "IdSerial...inner_serial=%u\n", d->max_serial);
  Utils::memory_guard();

  f = fopen(name, "rb");
  if (!f) {
    fprintf(stderr, "Cannot open file %s ...\n", name);
    exit(-1);
  }
  Reader r(f, name);
  fs_header(r, d, set, true);
  Utils::message(1, "Input file: %s\n", name);
  d->has_klass_sizes = d->format > 1;
  d->has_roots = d->has_call_traces = d->has_methods = d->data_level != 3;
  Utils::memory_guard();
  Pass second{d, set, index, &opt, &ids, true};
  fs_records(r, second);
  if (opt.call_trace && d->has_call_traces)
    write_call_traces(d);
  Utils::memory_guard();
  Utils::vmessage(1, "[HEAPDUMPDATA] total: %d\n", d->record_count);
  if (d->data_level != 3 && d->format == 1)
    fs_resolvePrimArrays(d);
}
