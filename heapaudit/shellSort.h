// The Shell sort the analyzer's tables are ordered by: gaps 1, 4, 13, ...
// up to n / 9, each pass moving an item down past every strictly larger
// one. Positions 1 to n are a[0] to a[n - 1]; equal keys may change
// their order, and that order is part of the output.
#pragma once
#include <cstdint>

template <class T, class Key> void shell_sort(T *a, int32_t n, Key key) {
  int32_t h = 1;
  while (h <= n / 9)
    h = 3 * h + 1;
  for (; h > 0; h /= 3) {
    for (int32_t i = h + 1; i <= n; ++i) {
      T v = a[i - 1];
      int32_t j = i;
      while (j > h && key(a[j - h - 1]) > key(v)) {
        a[j - 1] = a[j - h - 1];
        j -= h;
      }
      a[j - 1] = v;
    }
  }
}
