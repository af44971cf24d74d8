#include <cstdarg>
#include <cstdio>

#include "mwa_msgbundle.h"

static const char fs_moduleName[] = "mwa_msghelper";

int MwaMsgHelper_init(MwaMsgBundle **pMsgs, const char *filePrefix, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(*pMsgs == NULL);
  *pMsgs = MwaMsgBundle_new();
  if (!*pMsgs) {
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
    return 0;
  }
  return MwaMsgBundle_init(*pMsgs, filePrefix, pErrorInfo);
}

const char *MwaMsgHelper_getMessage(MwaMsgBundle *msgs, const char *key, const char *deflt) {
  if (!msgs)
    return deflt;
  MwaErrorInfo e;
  return MwaMsgBundle_getMessage(msgs, key, deflt, &e);
}

int MwaMsgHelper_format(char *buf, size_t len, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, len, fmt, ap);
  va_end(ap);
  if (len > 0)
    buf[len - 1] = '\0';
  return n;
}
