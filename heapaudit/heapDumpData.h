// The heap model: one graph of nodes per dump, nodes named by serials.
//
// Nodes live in dense arrays: find by serial is an index, and the object
// table's order (chain = serial mod 1000037, newest first within a chain)
// is produced from the insertion order when a phase asks for it.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

enum : uint32_t {
  KIND_COMPONENT = 0,
  KIND_KLASS = 0x20,
  KIND_INSTANCE = 0x21,
  KIND_OBJARRAY = 0x22,
  KIND_PRIMARRAY = 0x23,
};

enum : uint32_t {
  FLAG_VISIT = 1u << 0,
  FLAG_MARK2 = 1u << 1,
  FLAG_PERM = 1u << 2,
};

const uint32_t OBJECT_TABLE_SIZE = 1000037;
const uint32_t SMALL_TABLE_SIZE = 100003;

// Process-wide settings from the dump headers.
extern uint32_t word_size;
extern uint32_t id_size;
extern int hex_width;

class HeapDumpData;
class EntryBase;

// A walk's visitor; result points to the running result of the node,
// which the walk adds to its holder's, also when enter or visit refuse.
class Visitor {
public:
  virtual ~Visitor() = default;
  // Set by visit to walk another node in place of this one (a member's
  // component): same depth, no holder, slot -1; its result is this node's.
  EntryBase *redirect = nullptr;
  virtual bool enter(HeapDumpData *dump, EntryBase *node, int depth, EntryBase *holder, int slot, long *result) = 0;
  virtual bool visit(HeapDumpData *dump, EntryBase *node, int depth, EntryBase *holder, int slot, long *result) = 0;
  virtual void leave(HeapDumpData *dump, EntryBase *node, int depth, EntryBase *holder, int slot, long *result) = 0;
};

class EntryBase {
public:
  uint32_t flags = 0;
  uint32_t serial = 0;
  uint32_t klass = 0;

  virtual ~EntryBase() = default;
  virtual uint32_t getRefNum() const = 0;
  virtual void setRefNum(uint32_t n) = 0;
  virtual uint32_t *getRefs() = 0;
  virtual void setRefs(uint32_t *refs) = 0;
  virtual bool isObject() const { return true; }
  // The depth-first walk from this node (explicit stack, the visiting
  // order of the recursive form).
  virtual long traverse(HeapDumpData *dump, Visitor *v, int depth, EntryBase *holder, int slot);

  uint32_t kind() const { return (flags >> 3) & 0xff; }
  void set_kind(uint32_t k) { flags = (flags & ~(0xffu << 3)) | (k << 3); }
  uint32_t age() const { return (flags >> 11) & 0x1f; }
  void set_age(uint32_t a) { flags = (flags & ~(0x1fu << 11)) | ((a & 0x1f) << 11); }
  uint32_t component() const { return (flags >> 16) & 0xfff; }
  void set_component(uint32_t c) { flags = (flags & ~(0xfffu << 16)) | ((c > 4095 ? 4095 : c) << 16); }
};

class KlassEntry : public EntryBase {
public:
  uint32_t super = 0, loader = 0, signers = 0, protection_domain = 0;
  uint32_t name_id = 0, source_id = 0;
  uint32_t size_instance = 0;
  uint32_t size_klass = 0;
  uint32_t instance_field_count = 0;
  uint32_t *field_sig_ids = nullptr, *field_name_ids = nullptr;
  uint32_t static_field_count = 0;
  uint32_t *static_sig_ids = nullptr, *static_name_ids = nullptr, *static_values = nullptr;

  uint32_t getRefNum() const override { return static_field_count; }
  void setRefNum(uint32_t n) override { static_field_count = n; }
  uint32_t *getRefs() override { return static_values; }
  void setRefs(uint32_t *r) override { static_values = r; }
};

class InstanceEntry : public EntryBase {
public:
  uint32_t ref_count = 0;
  uint32_t *refs = nullptr;
  uint32_t getRefNum() const override { return ref_count; }
  void setRefNum(uint32_t n) override { ref_count = n; }
  uint32_t *getRefs() override { return refs; }
  void setRefs(uint32_t *r) override { refs = r; }
};

class ObjArrayEntry : public EntryBase {
public:
  uint32_t length = 0;
  uint32_t *elements = nullptr;
  uint32_t getRefNum() const override { return length; }
  void setRefNum(uint32_t n) override { length = n; }
  uint32_t *getRefs() override { return elements; }
  void setRefs(uint32_t *r) override { elements = r; }
};

class PrimArrayEntry : public EntryBase {
public:
  uint32_t element_type = 0;
  uint32_t length = 0;
  uint32_t getRefNum() const override { return 0; }
  void setRefNum(uint32_t) override {}
  uint32_t *getRefs() override { return nullptr; }
  void setRefs(uint32_t *) override {}
};

class StrongComponent : public EntryBase {
public:
  uint32_t number = 0;
  uint32_t member_count = 0;
  uint32_t max_member_serial = 0, min_member_serial = 0xffffffffu;
  EntryBase **members = nullptr;
  EntryBase **ext_holders = nullptr;
  int32_t *ext_slots = nullptr;
  int32_t depth = 2147483647;
  uint32_t ref_slot_count = 0;
  uint32_t *ext_refs = nullptr;
  uint32_t ext_count = 0; // external references in use
  uint32_t leak_word = 0;
  double weight = 0.0;
  uint32_t leak_word2 = 0;

  uint32_t getRefNum() const override { return ref_slot_count; }
  void setRefNum(uint32_t n) override { ref_slot_count = n; }
  uint32_t *getRefs() override { return ext_refs; }
  void setRefs(uint32_t *r) override { ext_refs = r; }
  bool isObject() const override { return false; }
  bool is_member(uint32_t serial) const;
};

struct DumpTime {
  uint16_t year;
  uint8_t month, day, hour, minute, second;
};
// <0 earlier, 0 equal, >0 later.
int compare_time(const DumpTime &a, const DumpTime &b);

struct RootData {
  uint8_t kind;
  uint32_t serial;
  uint32_t global_ref_id;
  uint32_t thread_id;
  uint32_t frame;
};

struct IdNameEntry {
  uint32_t id;
  uint32_t length;
  char *text;
  int32_t name_index;
};

struct MethodEntry {
  uint32_t klass;
  uint32_t method_id;
  uint32_t name_id;
};

struct KlassSizeRecord {
  uint32_t klass;
  uint32_t instance_count;
  uint32_t total_words;
};

struct CallFrame {
  int32_t line;
  uint32_t method_id;
};
struct CallTraceEntry {
  uint32_t env_id;
  int32_t frame_count;
  CallFrame *frames;
};

// Interns names: each distinct text gets the next index.
class NameTable {
public:
  static NameTable &instance();
  // Index of text, interning a copy of it when new.
  int32_t intern(const char *text, size_t length);
  int32_t find(const char *text, size_t length) const;
  const char *text(int32_t index) const;
  enum { GC_ROOT = 0, STCOMP = 1, HASHTABLE_ENTRY = 2, HASHMAP_ENTRY = 3 };

private:
  NameTable();
  std::unordered_map<std::string_view, int32_t> by_text_;
  std::vector<const char *> by_index_;
  // The table's own copies: interned names outlive the dumps that named
  // them (a process may read and drop dump sets, as the tests do).
  std::deque<std::string> texts_;
};

// Bump allocation of the arrays nodes point to: no per-array overhead.
class Arena {
public:
  uint32_t *words(size_t n);
  void *bytes(size_t n);

private:
  std::vector<std::unique_ptr<uint64_t[]>> chunks_;
  size_t left_ = 0;
  uint64_t *next_ = nullptr;
};

class HeapDumpDataSet;

class HeapDumpData {
public:
  HeapDumpDataSet *owner = nullptr;
  uint32_t format = 0;
  uint8_t data_level = 0;
  DumpTime *time = nullptr;
  uint32_t dump_mode_count = 0, dump_num = 0;
  uint32_t tenured_start = 0, tenured_end = 0, perm_start = 0, perm_end = 0;
  uint8_t current_age = 0;
  int32_t record_count = 0;
  int32_t klass_count = 0;
  uint32_t max_serial = 0;
  bool has_roots = false, has_call_traces = false, has_methods = false, has_klass_sizes = false;

  std::vector<RootData> roots;              // insertion order
  std::vector<CallTraceEntry> call_traces;  // insertion order
  std::unordered_map<uint32_t, IdNameEntry *> id_names; // the newest per id
  std::unordered_map<uint32_t, MethodEntry *> methods;  // the newest per id
  std::vector<MethodEntry *> method_list;
  std::vector<KlassSizeRecord> klass_sizes;
  Arena arena;

  ~HeapDumpData();
  // Adds a node (the newest with its serial is the one found).
  void add_node(EntryBase *node);
  EntryBase *find(uint32_t serial) const {
    return serial < by_serial_.size() ? by_serial_[serial] : nullptr;
  }
  // Calls f(node) for every node in object-table order.
  template <class F> void for_each_object(F f) const;
  // Root table and call trace table in chain order.
  std::vector<const RootData *> root_order() const;
  std::vector<const CallTraceEntry *> call_trace_order() const;
  uint32_t serial_limit() const { return static_cast<uint32_t>(by_serial_.size()); }

  KlassEntry *class_of(const EntryBase *node) const;
  const char *class_name(const EntryBase *node) const;
  int32_t class_name_index(const EntryBase *node) const;
  const char *name_of(uint32_t id) const;
  uint32_t size_of(EntryBase *node);
  uint32_t klass_size(KlassEntry *k);
  uint32_t method_count(uint32_t klass_serial) const;
  void clear_marks();
  bool is_weak_map(const EntryBase *node) const;
  // The class name and field texts of holder's slot (see the report).
  void field_of_reference(uint32_t holder, int slot, bool component, const char **klass_name,
                          const char **signature, const char **name) const;
  void field_ids_of_reference(EntryBase *holder, int slot, uint32_t *signature, uint32_t *name) const;

  // Node storage in blocks (instances and primitive arrays by 1000).
  KlassEntry *new_klass();
  InstanceEntry *new_instance();
  ObjArrayEntry *new_obj_array();
  PrimArrayEntry *new_prim_array();
  StrongComponent *new_component();

  // The record position (first-pass serial) of the node being added, for
  // the chain order of nodes an id given twice has hidden.
  uint32_t adding_position = 0;

private:
  template <class T> struct Pool {
    std::vector<std::unique_ptr<T[]>> blocks;
    uint32_t used = 0;
    T *next() {
      if (used % 1000 == 0)
        blocks.emplace_back(new T[1000]);
      return &blocks.back()[used++ % 1000];
    }
  };
  std::vector<EntryBase *> by_serial_; // the newest node per serial
  // Nodes whose serial a later node of the same id took, with their
  // record positions, by chain.
  std::unordered_map<uint32_t, std::vector<std::pair<uint32_t, EntryBase *>>> hidden_;
  std::unordered_map<uint32_t, uint32_t> odd_positions_; // serial -> position, where they differ
  Pool<KlassEntry> klasses_;
  Pool<InstanceEntry> instances_;
  Pool<ObjArrayEntry> obj_arrays_;
  Pool<PrimArrayEntry> prims_;
  Pool<StrongComponent> components_;
  std::unordered_map<uint32_t, uint32_t> method_counts_;
  bool method_counts_ready_ = false;
};

class HeapDumpDataSet {
public:
  explicit HeapDumpDataSet(int count);
  ~HeapDumpDataSet();
  HeapDumpDataSet(const HeapDumpDataSet &) = delete;
  HeapDumpDataSet &operator=(const HeapDumpDataSet &) = delete;
  int32_t count;
  std::vector<std::unique_ptr<HeapDumpData>> data;
  std::vector<class ClassSizeInfo *> class_size_info; // owned
  void *leak_first = nullptr, *leak_second = nullptr; // leak detection's
  DumpTime *previous_time = nullptr;
  uint32_t dump_mode_count = 0;
};

template <class F> void HeapDumpData::for_each_object(F f) const {
  const uint32_t n = static_cast<uint32_t>(by_serial_.size());
  for (uint32_t c = 0; c < OBJECT_TABLE_SIZE && c < n; ++c) {
    const std::vector<std::pair<uint32_t, EntryBase *>> *h = nullptr;
    if (!hidden_.empty()) {
      auto it = hidden_.find(c);
      if (it != hidden_.end())
        h = &it->second; // newest position first
    }
    size_t hi = 0;
    uint32_t top = c + (n - 1 - c) / OBJECT_TABLE_SIZE * OBJECT_TABLE_SIZE;
    for (uint32_t s = top;; s -= OBJECT_TABLE_SIZE) {
      // A node's position is its serial; hidden ones keep their own.
      while (h && hi < h->size() && (*h)[hi].first > s)
        f((*h)[hi++].second);
      if (EntryBase *e = by_serial_[s])
        f(e);
      if (s < OBJECT_TABLE_SIZE)
        break;
    }
    while (h && hi < h->size())
      f((*h)[hi++].second);
  }
}

// Reading (heapDumpData.cpp). Names may be fewer than the set's count.
struct ReadOptions {
  int detect_kind = 0;
  bool call_trace = false;
};
void read_dump(HeapDumpDataSet *set, int index, const std::vector<const char *> &names, const ReadOptions &opt);

// Step j after a node's reference slots in the walks: a class's loader,
// signers and protection domain (j 0 to 2); for a component, those of
// each member class in turn. False past the last step; *child is null
// when the step names nothing. With super_test, a protection domain
// counts only for a class with a super class.
bool class_link_step(const HeapDumpData *dump, EntryBase *node, uint32_t j, bool super_test, EntryBase **child);

// Primitive type codes and their sizes in bytes.
uint32_t prim_size(uint32_t type);
// Walks from every root (root table order) with the visitor.
void walk_roots(HeapDumpData *dump, Visitor *v);
