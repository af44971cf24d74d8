// Strongly connected groups of two or more objects in the newest dump,
// each folded into a StrongComponent node.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class HeapDumpData;
class StrongComponent;

class StrongComponentSet {
public:
  int32_t size = 1; // components + 1; table[0] is null
  HeapDumpData *dump = nullptr;
  std::vector<StrongComponent *> table;

  // Finds, adds and numbers the components; with check, validates them
  // (ending the program with status 0 when one is wrong). The caller owns
  // the set; the component nodes belong to the dump.
  static StrongComponentSet *build(HeapDumpData *dump, bool check);
  StrongComponent *component(int32_t n) const { return table[static_cast<size_t>(n)]; }
};
