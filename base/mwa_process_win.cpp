#include <new>

#include "mwa_process.h"

static const char fs_moduleName[] = "mwa_process_win";

struct MwaProcess {
  int started; // set once a process has been started
};

MwaProcess *MwaProcess_new(MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  MwaProcess *p = new (std::nothrow) MwaProcess{0};
  if (!p)
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
  return p;
}

void MwaProcess_free(MwaProcess *self) {
  MWA_CHECK(self != NULL);
  delete self;
}

int MwaProcess_isRunning(MwaProcess *self, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(self != NULL);
  MWA_CHECK(pErrorInfo != NULL);
  return self && self->started;
}
