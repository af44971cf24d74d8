// Per class name: class objects and instances of a dump, and their words.
#pragma once
#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <vector>

class HeapDumpData;

enum : uint32_t { ROW_CLASS = 1, ROW_INSTANCE = 2 };
enum : uint32_t { ONLY_SRC = 1, ONLYBASE = 2, BS_EQUAL = 3, BS_SMALL = 4, BS_LARGE = 5 };

struct ClassSizeEntry {
  uint32_t row_kind = 0;
  uint32_t klass = 0;
  int32_t name_index = -1;
  int32_t age = 0;
  uint32_t total_words = 0;
  uint32_t object_count = 0;
  double weight = 0.0;
  uint32_t state = BS_EQUAL;
};

class ClassSizeInfo {
public:
  int32_t count = 0;
  std::vector<ClassSizeEntry> rows; // rows[0] is position 1
  HeapDumpData *dump = nullptr;

  // Instance rows from what the roots reach (format word 1).
  static ClassSizeInfo *build_by_walking(HeapDumpData *dump, bool only_class, bool toi);
  // Instance rows from the class size records.
  static ClassSizeInfo *build_from_records(HeapDumpData *dump, bool toi);
  static ClassSizeInfo *empty(int32_t n, HeapDumpData *dump);

  ClassSizeEntry *find_row(uint32_t klass, uint32_t row_kind);
  // Appends a row (findable by its name from then on).
  void append(const ClassSizeEntry &row);
  void add(uint32_t klass, uint32_t words, uint32_t objects, uint32_t row_kind);
  void sort();
  void write_class_size_table();
  void write_difference_table(HeapDumpData *dump, FILE *out);

private:
  void rows_from_classes();
  // (name index, row kind) -> position of its first row; nameless rows
  // are never found.
  std::unordered_map<uint64_t, int32_t> index_;
};
