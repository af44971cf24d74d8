// A set of serials of the newest dump: a sorted list up to 251 elements,
// a bitmap of 8192-bit pages beyond; its weight is cached.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class ClassSizeInfo;
class HeapDumpData;
class StrongComponentSet;

class LeakObjectArray {
public:
  enum { BITMAP = 0, LIST = 1 };
  static const uint32_t MAX_LIST = 251;

  int kind = LIST;
  double weight = 0.0;
  bool weight_known = false;

  LeakObjectArray();
  ~LeakObjectArray();
  LeakObjectArray(const LeakObjectArray &) = delete;
  LeakObjectArray &operator=(const LeakObjectArray &) = delete;

  LeakObjectArray *copy() const;
  bool contains(uint32_t serial) const;
  void add(HeapDumpData *dump, uint32_t serial);
  void unite(HeapDumpData *dump, const LeakObjectArray *other);
  // Sum of the class weights of the elements (a component: of its members
  // that have a candidate row).
  double get_weight(HeapDumpData *dump, ClassSizeInfo *list, StrongComponentSet *cs);
  size_t storage_size() const;
  uint32_t size() const;
  // Elements in ascending order.
  template <class F> void for_each(F f) const;

private:
  void to_bitmap(HeapDumpData *dump);
  void set_bit(uint32_t serial);
  // List.
  std::vector<uint32_t> elems_;
  uint32_t room_ = 2;
  // Bitmap.
  uint32_t covers_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
};

template <class F> void LeakObjectArray::for_each(F f) const {
  if (kind == LIST) {
    for (uint32_t s : elems_)
      f(s);
    return;
  }
  for (size_t p = 0; p < pages_.size(); ++p) {
    if (!pages_[p])
      continue;
    for (uint32_t byte = 0; byte < 1024; ++byte) {
      uint8_t b = pages_[p][byte];
      for (uint32_t bit = 0; b && bit < 8; ++bit)
        if (b & (1u << bit))
          f(static_cast<uint32_t>(p * 8192 + byte * 8 + bit + 1));
    }
  }
}
