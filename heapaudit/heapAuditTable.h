// The holders of leak objects (LeakObjectTable), filled by the collecting
// walk, and their ranking.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class ClassSizeInfo;
class EntryBase;
class HeapDumpData;
class HeapDumpDataSet;
class LeakObjectArray;
class StrongComponentSet;
struct DepthTable;
struct UpperObjectTable;

enum { HOLDER_NONE = 0, HOLDER_CLASS = 1, HOLDER_INSTANCE = 2, HOLDER_OBJARRAY = 3, HOLDER_PRIMARRAY = 4 };

struct LeakObjectEntry {
  uint32_t serial = 0; // 0 for a component
  int32_t depth = 0;
  int32_t age = 0;
  int32_t holder_kind = HOLDER_NONE;
  uint32_t holder_serial = 0;
  int32_t slot = -1;
  LeakObjectArray *set = nullptr;
  int64_t weight = 0;
  int64_t excess = 0;
  int32_t component_number = 0;
};

class LeakObjectTable {
public:
  LeakObjectTable(StrongComponentSet *cs, UpperObjectTable *upper);
  ~LeakObjectTable();
  LeakObjectTable(const LeakObjectTable &) = delete;
  LeakObjectTable &operator=(const LeakObjectTable &) = delete;

  StrongComponentSet *components;
  UpperObjectTable *upper;
  std::vector<LeakObjectEntry> entries;
  int32_t last = -1;
  int32_t last_before_delete = -1;
  std::vector<int32_t> order;
  int32_t special[2];
  bool ranked = false;

  void append(const LeakObjectEntry &e);
  LeakObjectEntry *find_object(uint32_t serial);
  LeakObjectEntry *find_component(int32_t number);
  // Every set made for the table; released with it.
  LeakObjectArray *keep(LeakObjectArray *set);
  uint32_t room() const { return room_; }

private:
  std::vector<int32_t> by_serial_;                    // newest entry per serial, -1: none
  std::unordered_map<int32_t, int32_t> by_component_; // newest entry per number
  std::vector<std::unique_ptr<LeakObjectArray>> sets_;
  uint32_t room_ = 100003;
};

// Fills the table from the roots of the newest dump.
void collect_leak_objects(HeapDumpDataSet *set, LeakObjectTable *table, ClassSizeInfo *list, DepthTable *depth);

// The key of an entry for a kind (1 TOTAL: weight, 2 DIFF: excess).
int64_t entry_key(const LeakObjectEntry &e, int kind);
// Orders the table for the kind (see the report).
void rank_table(LeakObjectTable *table, HeapDumpData *dump, int kind);
