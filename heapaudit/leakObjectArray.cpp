#include "leakObjectArray.h"

#include <algorithm>
#include <cstring>

#include "classSizeInfo.h"
#include "heapDumpData.h"
#include "leakCandidate.h"
#include "strongComponent.h"

LeakObjectArray::LeakObjectArray() { elems_.reserve(room_); }

LeakObjectArray::~LeakObjectArray() = default;

LeakObjectArray *LeakObjectArray::copy() const {
  LeakObjectArray *c = new LeakObjectArray;
  c->kind = kind;
  c->elems_ = elems_;
  c->room_ = room_;
  c->covers_ = covers_;
  c->pages_.resize(pages_.size());
  for (size_t p = 0; p < pages_.size(); ++p)
    if (pages_[p]) {
      c->pages_[p].reset(new uint8_t[1024]);
      memcpy(c->pages_[p].get(), pages_[p].get(), 1024);
    }
  return c;
}

bool LeakObjectArray::contains(uint32_t s) const {
  if (kind == LIST)
    return std::binary_search(elems_.begin(), elems_.end(), s);
  if (s == 0)
    return false;
  size_t page = (s - 1) / 8192;
  if (page >= pages_.size() || !pages_[page])
    return false;
  uint32_t off = (s - 1) % 8192;
  return (pages_[page][off / 8] >> (off % 8)) & 1;
}

void LeakObjectArray::set_bit(uint32_t s) {
  if (s == 0)
    return;
  size_t page = (s - 1) / 8192;
  // Serials beyond the dump's count at creation (none are expected)
  // widen the map rather than fall outside it.
  if (page >= pages_.size())
    pages_.resize(page + 1);
  if (!pages_[page]) {
    pages_[page].reset(new uint8_t[1024]);
    memset(pages_[page].get(), 0, 1024);
  }
  uint32_t off = (s - 1) % 8192;
  pages_[page][off / 8] = static_cast<uint8_t>(pages_[page][off / 8] | (1u << (off % 8)));
}

void LeakObjectArray::to_bitmap(HeapDumpData *dump) {
  covers_ = dump->max_serial;
  pages_.clear();
  pages_.resize(covers_ / 8192 + 1);
  kind = BITMAP;
  for (uint32_t s : elems_)
    set_bit(s);
  elems_.clear();
  elems_.shrink_to_fit();
}

void LeakObjectArray::add(HeapDumpData *dump, uint32_t s) {
  weight_known = false;
  if (kind == BITMAP) {
    set_bit(s);
    return;
  }
  size_t at = static_cast<size_t>(std::lower_bound(elems_.begin(), elems_.end(), s) - elems_.begin());
  if (at < elems_.size() && elems_[at] == s)
    return;
  if (elems_.size() >= MAX_LIST) {
    to_bitmap(dump);
    set_bit(s);
    return;
  }
  if (elems_.size() == room_) {
    room_ = room_ + room_ / 2 + 1;
    elems_.reserve(room_);
  }
  elems_.insert(elems_.begin() + static_cast<std::ptrdiff_t>(at), s);
}

void LeakObjectArray::unite(HeapDumpData *dump, const LeakObjectArray *o) {
  weight_known = false;
  if (kind == LIST && o->kind == LIST) {
    std::vector<uint32_t> merged;
    merged.reserve(elems_.size() + o->elems_.size());
    std::set_union(elems_.begin(), elems_.end(), o->elems_.begin(), o->elems_.end(), std::back_inserter(merged));
    if (merged.size() <= MAX_LIST) {
      while (room_ < merged.size())
        room_ = room_ + room_ / 2 + 1;
      elems_.swap(merged);
      elems_.reserve(room_);
      return;
    }
    to_bitmap(dump);
    for (uint32_t s : merged)
      set_bit(s);
    return;
  }
  if (kind == LIST)
    to_bitmap(dump);
  if (o->kind == LIST) {
    for (uint32_t s : o->elems_)
      set_bit(s);
    return;
  }
  if (pages_.size() < o->pages_.size())
    pages_.resize(o->pages_.size());
  for (size_t p = 0; p < o->pages_.size(); ++p) {
    if (!o->pages_[p])
      continue;
    if (!pages_[p]) {
      pages_[p].reset(new uint8_t[1024]);
      memcpy(pages_[p].get(), o->pages_[p].get(), 1024);
      continue;
    }
    for (size_t b = 0; b < 1024; ++b)
      pages_[p][b] = static_cast<uint8_t>(pages_[p][b] | o->pages_[p][b]);
  }
}

double LeakObjectArray::get_weight(HeapDumpData *dump, ClassSizeInfo *list, StrongComponentSet *) {
  if (weight_known)
    return weight;
  double w = 0.0;
  for_each([&](uint32_t s) {
    EntryBase *n = dump->find(s);
    if (!n)
      return;
    if (n->isObject()) {
      if (ClassSizeEntry *r = candidate_row(list, n))
        w += r->weight;
      return;
    }
    StrongComponent *c = static_cast<StrongComponent *>(n);
    for (uint32_t i = 0; i < c->member_count; ++i)
      if (ClassSizeEntry *r = candidate_row(list, c->members[i]))
        w += r->weight;
  });
  weight = w;
  weight_known = true;
  return w;
}

size_t LeakObjectArray::storage_size() const {
  if (kind == LIST)
    return room_ * 4;
  size_t n = pages_.size() * 4;
  for (const auto &p : pages_)
    if (p)
      n += 1024;
  return n;
}

uint32_t LeakObjectArray::size() const {
  uint32_t n = 0;
  for_each([&](uint32_t) { ++n; });
  return n;
}
