// The class reference detection: class names loaded by several class
// objects, and the unambiguous chains of holders that keep each alive.
#pragma once
#include <cstdio>

class HeapDumpDataSet;
class StrongComponentSet;

void detect_class_references(HeapDumpDataSet *set, StrongComponentSet *cs, FILE *out);
