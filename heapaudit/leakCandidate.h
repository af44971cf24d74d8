// Leak candidates in the newest dump: their classes, the marking of what
// holds their young objects, the depth of each marked node and the nodes
// that hold it.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "heapDumpData.h"

struct ClassSizeEntry;
class ClassSizeInfo;
class StrongComponent;
class StrongComponentSet;

// The classes that grow steadily over the dumps, smallest growth first.
ClassSizeInfo *resolve_leak_classes(HeapDumpDataSet *set, bool only_class);
void set_class_weights(ClassSizeInfo *list);

// The component a node stands in (itself for a component node), or null.
StrongComponent *component_of(const StrongComponentSet *cs, EntryBase *node);
// Allocated after the first dump was taken.
bool is_young(const HeapDumpDataSet *set, const EntryBase *node);
// The candidate row of an object's class, or null.
ClassSizeEntry *candidate_row(ClassSizeInfo *list, EntryBase *node);
// A young object with a candidate row, or a component with such a member.
bool is_young_candidate(const HeapDumpDataSet *set, ClassSizeInfo *list, EntryBase *node);

// The marking walk: sets the second mark on the nodes that qualify and on
// everything that reaches one (a node met again passes its mark on to its
// new holder); a component member is walked through its component, and a
// marked component marks its members.
class MarkingVisitor : public Visitor {
public:
  explicit MarkingVisitor(StrongComponentSet *cs) : cs_(cs) {}
  int marked = 0;
  bool enter(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *result) override;
  bool visit(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *) override;
  void leave(HeapDumpData *, EntryBase *n, int, EntryBase *, int, long *result) override;

protected:
  // Whether the node (an object or a component) is marked for its own sake.
  virtual bool qualifies(EntryBase *n) = 0;
  // Called for every node the walk marks.
  virtual void on_marked(EntryBase *) {}

private:
  StrongComponentSet *cs_;
};

// Sets the second mark on every young candidate object and on everything
// that reaches one; returns how many nodes were marked.
int mark_leak_candidates(HeapDumpDataSet *set, StrongComponentSet *cs, ClassSizeInfo *list);

struct DepthTable {
  std::unordered_map<uint32_t, int32_t> depth;
  int32_t count = 0;
  int32_t max_depth = 0;
  // The depth recorded for a serial, or 0 with false.
  bool find(uint32_t serial, int32_t *out) const;
};
DepthTable *build_depth_table(HeapDumpDataSet *set, StrongComponentSet *cs);

// For each marked node: the nodes that hold it, in ascending serial
// order without repeats and without the root's null holder.
struct UpperObjectTable {
  std::unordered_map<uint32_t, std::vector<EntryBase *>> holders;
  const std::vector<EntryBase *> *find(uint32_t serial) const;
};
UpperObjectTable *resolve_upper_objects(HeapDumpDataSet *set);
