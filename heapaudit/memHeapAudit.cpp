// Leak detection's entry. The detections themselves come next; until
// then a requested detection reports that it found no candidate.
#include "heapAudit.h"

#include "utils.h"

void detect_leaks(HeapDumpDataSet *, StrongComponentSet *, const DetectOptions &) {
  Utils::message(1, "==> Memory leak detection is not available in this build\n");
}
