#include <mutex>
#include <new>

#include "mwa_mutex.h"

static const char fs_moduleName[] = "mwa_mutex_win";

struct MwaMutex {
  std::recursive_mutex m;
};

MwaMutex *MwaMutex_new(MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  MwaMutex *m = new (std::nothrow) MwaMutex;
  if (!m && pErrorInfo)
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
  return m;
}

void MwaMutex_free(MwaMutex *self) {
  MWA_CHECK(self != NULL);
  delete self;
}

void MwaMutex_lock(MwaMutex *self) {
  MWA_CHECK(self != NULL);
  self->m.lock();
}

void MwaMutex_unlock(MwaMutex *self) {
  MWA_CHECK(self != NULL);
  self->m.unlock();
}
