#include <cstdlib>
#include <cstring>

#include "mwa_msgbundle.h"

static const char fs_moduleName[] = "mwa_msgitem";

MwaMsgItem *MwaMsgItem_new(const char *key, int32_t offset, int32_t length) {
  MWA_CHECK(key != NULL);
  MWA_CHECK(offset > 0);
  MWA_CHECK(length >= 0);
  MwaMsgItem *item = static_cast<MwaMsgItem *>(calloc(1, sizeof(MwaMsgItem)));
  if (!item)
    return nullptr;
  size_t n = strlen(key);
  item->key = static_cast<char *>(malloc(n + 1));
  if (!item->key) {
    free(item);
    return nullptr;
  }
  memcpy(item->key, key, n + 1);
  item->offset = offset;
  item->length = length;
  return item;
}

void MwaMsgItem_free(MwaMsgItem *msgItem) {
  MWA_CHECK(msgItem);
  if (!msgItem)
    return;
  MWA_CHECK(msgItem->key);
  free(msgItem->text);
  free(msgItem->key);
  free(msgItem);
}
