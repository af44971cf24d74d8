// Leak detection: what the driver hands over once the dumps are read.
#pragma once

class HeapDumpDataSet;
class StrongComponentSet;

enum { DETECT_TOTAL = 1, DETECT_DIFF = 2, DETECT_CLASS = 4 };

struct DetectOptions {
  int detect_kind = 0;
  bool auto_detect = false;
  bool detail = false;
  bool only_class = false;
};

// Runs the requested detections over the set and appends their report.
void detect_leaks(HeapDumpDataSet *set, StrongComponentSet *components, const DetectOptions &opt);
