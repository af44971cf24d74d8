// Leak detection's driver: the TOTAL and DIFF pipeline (over the whole
// heap and, for auto, the permanent region too) and the class reference
// detection.
#include <cstdlib>
#include <memory>

#include "classSizeInfo.h"
#include "heapAudit.h"
#include "heapDumpData.h"
#include "leakCandidate.h"
#include "strongComponent.h"
#include "utils.h"

namespace {

void fs_pipeline(HeapDumpDataSet *set, StrongComponentSet *cs, FILE *out, bool only_class) {
  Utils::message(1, "==> Leak detection: Resolve Leak Class\n");
  std::unique_ptr<ClassSizeInfo> list(resolve_leak_classes(set, only_class));
  Utils::memory_guard();
  if (list->count == 0) {
    Utils::output2file(out, "No memory leak in ");
    Utils::output2file(out, only_class ? "permanent heap\n\n" : "all java heap\n\n");
    return;
  }
  set->leak_second = list.get();
  set_class_weights(list.get());
  Utils::memory_guard();
  list->write_difference_table(set->data.back().get(), out);
  Utils::message(1, "==> Mark leak candidate object\n");
  mark_leak_candidates(set, cs, list.get());
  Utils::memory_guard();
  Utils::message(1, "==> Set leak candidate object depth\n");
  std::unique_ptr<DepthTable> depth(build_depth_table(set, cs));
  Utils::memory_guard();
  Utils::message(1, "==> Resolve Upper objects\n");
  std::unique_ptr<UpperObjectTable> upper(resolve_upper_objects(set));
  Utils::memory_guard();
  // The leak object sets, their ranking and the report come next.
  for (int32_t n = 1; n < cs->size; ++n)
    cs->component(n)->depth = 2147483647;
  set->leak_second = nullptr;
}

} // namespace

void detect_leaks(HeapDumpDataSet *set, StrongComponentSet *cs, const DetectOptions &opt) {
  const int kinds = opt.detect_kind;
  FILE *out = Utils::open_resultfile();
  if ((kinds & (DETECT_TOTAL | DETECT_DIFF)) || opt.auto_detect) {
    if (set->count < 2) {
      fprintf(stderr, "For memory leak detection, more than 2 data are needed at least (%d)\n", kinds);
      exit(0);
    }
    if (opt.auto_detect) {
      fs_pipeline(set, cs, out, false);
      fs_pipeline(set, cs, out, true);
    } else {
      fs_pipeline(set, cs, out, opt.only_class);
    }
  }
  Utils::memory_guard();
  if (kinds & DETECT_CLASS) {
    Utils::message(1, opt.auto_detect ? "Auto Detect: CLASS REF\n" : "Manual Detect: CLASS REF\n");
    Utils::output2file(out, "#############################################\n");
    Utils::output2file(out, "# Memory leak detect kind: CLASS REF        #\n");
    Utils::output2file(out, "#############################################\n");
    // The class reference detection comes next.
    Utils::output2file(out, "\n");
  }
  Utils::close_resultfile(out);
}
