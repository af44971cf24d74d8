// Growable array of fixed-size plain elements, and the typed arrays
// built over it.
#pragma once
#include <cstdint>

struct MwaArray {
  int32_t elementSize;
  int32_t size;
  int32_t capacity;
  void *buf;
};

MwaArray *MwaArray_new(int32_t elementSize);
void MwaArray_free(MwaArray *array);
void *MwaArray_getBuffer(MwaArray *array);
int32_t MwaArray_getSize(const MwaArray *array);
int MwaArray_reserve(MwaArray *array, int32_t count);
int MwaArray_setSize(MwaArray *array, int32_t size);
int MwaArray_pushBack(MwaArray *array, const void *element);
// The capacity the array grows to for requiredSize elements; -1 when no
// int32 capacity can hold that many.
int32_t MwaArray_capacityFor(int32_t requiredSize);

// A typed array: Name_new/_free/_getBuffer/_getSize/_pushBack over an
// MwaArray of Elem.
#define MWA_TYPED_ARRAY(Name, Elem)                                                      \
  struct Name;                                                                           \
  inline Name *Name##_new() { return reinterpret_cast<Name *>(MwaArray_new(sizeof(Elem))); } \
  inline void Name##_free(Name *a) { MwaArray_free(reinterpret_cast<MwaArray *>(a)); }   \
  inline Elem *Name##_getBuffer(Name *a) {                                               \
    return static_cast<Elem *>(MwaArray_getBuffer(reinterpret_cast<MwaArray *>(a)));     \
  }                                                                                      \
  inline int32_t Name##_getSize(const Name *a) {                                         \
    return MwaArray_getSize(reinterpret_cast<const MwaArray *>(a));                      \
  }                                                                                      \
  inline int Name##_pushBack(Name *a, const Elem *e) {                                   \
    return MwaArray_pushBack(reinterpret_cast<MwaArray *>(a), e);                        \
  }
