#include "mwa_msgbundle.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/file.h"

static const char fs_moduleName[] = "mwa_msgbundle";

namespace {

const struct {
  unsigned codePage;
  const char *locale;
} fs_locales[] = {{932, "ja_JP.SJIS"}, {0, nullptr}};

unsigned fs_codePage; // 0: ask the console

// A line end: LF, or CR LF (a CR right before a LF belongs to it). The
// file is read as bytes so that offsets are true positions on every
// platform; this is what text mode would make of the line ends.
bool fs_lineEnd(int c, FILE *fp) {
  if (c == '\n')
    return true;
  if (c != '\r')
    return false;
  int next = fgetc(fp);
  if (next == '\n')
    return true;
  if (next != EOF)
    ungetc(next, fp);
  return false;
}

int fs_index(MwaMsgBundle *msgs, FILE *fp, MwaErrorInfo *pErrorInfo) {
  enum { LINE_START, IN_KEY, IN_TEXT, SKIPPING } state = LINE_START;
  char key[MAX_MESSAGE_ID_LENGTH];
  size_t keyLen = 0;
  bool keyTooLong = false;
  long offset = 0;
  int32_t count = 0;
  for (int c = fgetc(fp); c != EOF; c = fgetc(fp)) {
    bool eol = fs_lineEnd(c, fp);
    switch (state) {
    case LINE_START:
      if (eol)
        break;
      if (c == '#' || c == '=') {
        state = SKIPPING;
        break;
      }
      keyLen = 0;
      keyTooLong = false;
      key[keyLen++] = static_cast<char>(c);
      state = IN_KEY;
      break;
    case IN_KEY:
      if (c == '=') {
        offset = ftell(fp);
        count = 0;
        state = IN_TEXT;
      } else if (eol) {
        state = LINE_START;
      } else if (keyLen < MAX_MESSAGE_ID_LENGTH - 1) {
        key[keyLen++] = static_cast<char>(c);
      } else {
        // Longer than the format allows: the line is passed over.
        keyTooLong = true;
      }
      break;
    case IN_TEXT:
      if (!eol) {
        ++count;
        break;
      }
      state = LINE_START;
      if (keyTooLong)
        break;
      key[keyLen] = '\0';
      {
        MwaMsgItem *item = MwaMsgItem_new(key, static_cast<int32_t>(offset), count);
        if (!item || !MwaMsgItemArray_pushBack(msgs->msgItems, &item)) {
          if (item)
            MwaMsgItem_free(item);
          MwaErrorInfo_set(pErrorInfo, "malloc", -1);
          return 0;
        }
      }
      break;
    case SKIPPING:
      if (eol)
        state = LINE_START;
      break;
    }
  }
  return 1;
}

const char *fs_readText(MwaMsgBundle *msgs, MwaMsgItem *item, const char *deflt, MwaErrorInfo *pErrorInfo) {
  size_t bufSize = static_cast<size_t>(item->length) + 1;
  MWA_CHECK(bufSize > 0);
  char *buf = static_cast<char *>(malloc(bufSize));
  if (!buf) {
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
    return deflt;
  }
  int err = 0;
  FILE *fp = pl_file_open(msgs->filename, "rb", 0, &err);
  if (!fp) {
    free(buf);
    MwaErrorInfo_set(pErrorInfo, "fopen", err);
    return deflt;
  }
  if (fseek(fp, item->offset, SEEK_SET) != 0) {
    int e = errno;
    fclose(fp);
    free(buf);
    MwaErrorInfo_set(pErrorInfo, "fseek", e);
    return deflt;
  }
  size_t i = 0;
  bool escaped = false;
  for (int32_t n = 0; n < item->length && i < bufSize - 1; ++n) {
    int c = fgetc(fp);
    if (c == EOF) {
      if (ferror(fp)) {
        int e = errno;
        fclose(fp);
        free(buf);
        MwaErrorInfo_set(pErrorInfo, "fgetc", e);
        return deflt;
      }
      break;
    }
    if (escaped) {
      buf[i++] = c == 'n' ? '\n' : static_cast<char>(c);
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else {
      buf[i++] = static_cast<char>(c);
    }
    MWA_CHECK(i < bufSize);
  }
  buf[i] = '\0';
  fclose(fp);
  item->text = buf;
  return buf;
}

} // namespace

const char *MwaMsgBundle_localeFor(unsigned codePage) {
  for (int i = 0; fs_locales[i].codePage != 0; ++i)
    if (fs_locales[i].codePage == codePage)
      return fs_locales[i].locale;
  return nullptr;
}

void MwaMsgBundle_setCodePage(unsigned codePage) { fs_codePage = codePage; }

MwaMsgBundle *MwaMsgBundle_new() {
  MwaMsgBundle *m = static_cast<MwaMsgBundle *>(calloc(1, sizeof(MwaMsgBundle)));
  if (!m)
    return nullptr;
  m->msgItems = MwaMsgItemArray_new();
  if (!m->msgItems) {
    free(m);
    return nullptr;
  }
  MwaErrorInfo e;
  m->lock = MwaMutex_new(&e); // without it lookups run unlocked
  return m;
}

int MwaMsgBundle_init(MwaMsgBundle *msgs, const char *filePrefix, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(msgs);
  MWA_CHECK(filePrefix);
  MWA_CHECK(pErrorInfo);
  MWA_CHECK(msgs->filename == NULL);
  const char *locale = MwaMsgBundle_localeFor(fs_codePage ? fs_codePage : pl_console_output_cp());
  size_t filenameLength = strlen(filePrefix) + (locale ? 1 + strlen(locale) : 0) + strlen(".txt");
  char *filename = static_cast<char *>(malloc(filenameLength + 1));
  if (!filename) {
    MwaErrorInfo_set(pErrorInfo, "malloc", -1);
    return 0;
  }
  if (locale) {
    snprintf(filename, filenameLength + 1, "%s_%s.txt", filePrefix, locale);
    MWA_CHECK(strlen(filename) == filenameLength);
    if (!pl_file_readable(filename)) {
      snprintf(filename, filenameLength + 1, "%s.txt", filePrefix);
      MWA_CHECK(strlen(filename) < filenameLength);
    }
  } else {
    snprintf(filename, filenameLength + 1, "%s.txt", filePrefix);
  }
  msgs->filename = filename;
  MWA_CHECK(MwaMsgItemArray_getSize(msgs->msgItems) == 0);
  int err = 0;
  FILE *fp = pl_file_open(filename, "rb", 0, &err);
  if (!fp) {
    MwaErrorInfo_set(pErrorInfo, "fopen", err);
    return 0;
  }
  int ok = fs_index(msgs, fp, pErrorInfo);
  fclose(fp);
  return ok;
}

const char *MwaMsgBundle_getMessage(MwaMsgBundle *msgs, const char *key, const char *deflt,
                                    MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(msgs);
  MWA_CHECK(key);
  MWA_CHECK(pErrorInfo);
  MwaErrorInfo_clear(pErrorInfo);
  if (msgs->lock)
    MwaMutex_lock(msgs->lock);
  const char *result = deflt;
  MwaMsgItem **items = MwaMsgItemArray_getBuffer(msgs->msgItems);
  int32_t n = MwaMsgItemArray_getSize(msgs->msgItems);
  for (int32_t i = 0; i < n; ++i)
    if (strcmp(items[i]->key, key) == 0) {
      result = items[i]->text ? items[i]->text : fs_readText(msgs, items[i], deflt, pErrorInfo);
      break;
    }
  if (msgs->lock)
    MwaMutex_unlock(msgs->lock);
  return result;
}

const char *MwaMsgBundle_getFilename(MwaMsgBundle *msgs) { return msgs->filename; }

void MwaMsgBundle_free(MwaMsgBundle *msgs) {
  if (!msgs)
    return;
  MwaMsgItem **items = MwaMsgItemArray_getBuffer(msgs->msgItems);
  for (int32_t i = 0; i < MwaMsgItemArray_getSize(msgs->msgItems); ++i)
    MwaMsgItem_free(items[i]);
  MwaMsgItemArray_free(msgs->msgItems);
  if (msgs->lock)
    MwaMutex_free(msgs->lock);
  free(msgs->filename);
  free(msgs);
}
