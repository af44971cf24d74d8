// Message files: keys mapped to texts, indexed at start and read lazily.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mwa_array.h"
#include "mwa_error.h"
#include "mwa_mutex.h"

enum { MAX_MESSAGE_ID_LENGTH = 256 };

struct MwaMsgItem {
  char *key;
  int32_t offset;
  int32_t length;
  char *text;
};

typedef MwaMsgItem *MwaMsgItemPtr;
MWA_TYPED_ARRAY(MwaMsgItemArray, MwaMsgItemPtr)

struct MwaMsgBundle {
  char *filename;
  MwaMsgItemArray *msgItems;
  MwaMutex *lock;
};

MwaMsgItem *MwaMsgItem_new(const char *key, int32_t offset, int32_t length);
void MwaMsgItem_free(MwaMsgItem *msgItem);

MwaMsgBundle *MwaMsgBundle_new();
int MwaMsgBundle_init(MwaMsgBundle *msgs, const char *filePrefix, MwaErrorInfo *pErrorInfo);
const char *MwaMsgBundle_getMessage(MwaMsgBundle *msgs, const char *key, const char *deflt,
                                    MwaErrorInfo *pErrorInfo);
const char *MwaMsgBundle_getFilename(MwaMsgBundle *msgs);
void MwaMsgBundle_free(MwaMsgBundle *msgs);
// The locale name used for a console code page (null when none).
const char *MwaMsgBundle_localeFor(unsigned codePage);
// The code page the bundle asks about; replaceable in tests (0: ask the
// console).
void MwaMsgBundle_setCodePage(unsigned codePage);

int MwaMsgHelper_init(MwaMsgBundle **pMsgs, const char *filePrefix, MwaErrorInfo *pErrorInfo);
const char *MwaMsgHelper_getMessage(MwaMsgBundle *msgs, const char *key, const char *deflt);
int MwaMsgHelper_format(char *buf, size_t len, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
