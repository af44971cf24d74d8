#include "mwa_array.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mwa_error.h"

static const char fs_moduleName[] = "mwa_array";

MwaArray *MwaArray_new(int32_t elementSize) {
  MWA_CHECK(elementSize > 0);
  if (elementSize <= 0)
    return nullptr;
  MwaArray *a = static_cast<MwaArray *>(calloc(1, sizeof(MwaArray)));
  if (a)
    a->elementSize = elementSize;
  return a;
}

void MwaArray_free(MwaArray *array) {
  MWA_CHECK(array);
  if (!array)
    return;
  free(array->buf);
  free(array);
}

void *MwaArray_getBuffer(MwaArray *array) {
  MWA_CHECK(array);
  MWA_CHECK(array->buf || array->size == 0);
  return array->buf;
}

int32_t MwaArray_getSize(const MwaArray *array) {
  MWA_CHECK(array);
  return array->size;
}

int32_t MwaArray_capacityFor(int32_t requiredSize) {
  MWA_CHECK(requiredSize >= 0);
  if (requiredSize < 16)
    return 16;
  int64_t cap = 16;
  while (cap < requiredSize)
    cap *= 2;
  return cap > INT32_MAX ? -1 : static_cast<int32_t>(cap);
}

int MwaArray_reserve(MwaArray *array, int32_t count) {
  MWA_CHECK(array);
  MWA_CHECK(array->size >= 0);
  if (count < 0)
    return 0;
  if (array->capacity >= count)
    return 1;
  int32_t cap = MwaArray_capacityFor(count);
  // Refuse growth whose byte count the size type cannot hold.
  if (cap < 0 || static_cast<uint64_t>(cap) * static_cast<uint64_t>(array->elementSize) > SIZE_MAX / 2)
    return 0;
  void *grown = realloc(array->buf, static_cast<size_t>(cap) * static_cast<size_t>(array->elementSize));
  if (!grown)
    return 0;
  array->buf = grown;
  array->capacity = cap;
  return 1;
}

int MwaArray_setSize(MwaArray *array, int32_t size) {
  MWA_CHECK(array);
  MWA_CHECK(size >= 0);
  if (size < 0)
    return 0;
  if (size > array->capacity && !MwaArray_reserve(array, size))
    return 0;
  MWA_CHECK(array->capacity >= size);
  array->size = size;
  return 1;
}

int MwaArray_pushBack(MwaArray *array, const void *element) {
  if (array->size == INT32_MAX || !MwaArray_setSize(array, array->size + 1))
    return 0;
  memcpy(static_cast<char *>(array->buf) + static_cast<size_t>(array->size - 1) * static_cast<size_t>(array->elementSize),
         element, static_cast<size_t>(array->elementSize));
  return 1;
}
