#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mwa_error.h"
#include "platform/procinfo.h"
#include "platform/syserr.h"

static const char fs_moduleName[] = "mwa_error_win";

void MwaErrorInfo_clear(MwaErrorInfo *info) {
  info->op = "unknown";
  info->err = 0;
}

void MwaErrorInfo_set(MwaErrorInfo *info, const char *op, int32_t err) {
  info->op = op ? op : "unknown";
  info->err = err;
}

int mwa_isdebug() { return pl_env_exists("TALV_AGENT_ENABLE_DEBUG"); }

void mwa_assertfail(const char *module, int line, const char *cond) {
  fprintf(stderr, "Debug check failed: %s, module %s, line %d\n", cond, module, line);
  fflush(stderr);
  exit(3);
}

void mwa_errortext(int32_t err, char *buf, int len) {
  MWA_CHECK(len >= 1);
  if (len < 1)
    return;
  snprintf(buf, static_cast<size_t>(len), "%s", "(null)");
  buf[len - 1] = '\0';
  pl_system_error_text(err, buf, static_cast<size_t>(len));
  size_t n = strlen(buf);
  if (n > 0 && buf[n - 1] == '\n')
    buf[n - 1] = '\0';
}

int mwa_snprintf(char *buf, size_t len, const char *fmt, ...) {
  if (len == 0)
    return -1;
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, len, fmt, ap);
  va_end(ap);
  buf[len - 1] = '\0';
  return (n < 0 || static_cast<size_t>(n) >= len) ? -1 : n;
}

static int fs_lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

int mwa_strnicmp(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int ca = fs_lower(static_cast<unsigned char>(a[i])), cb = fs_lower(static_cast<unsigned char>(b[i]));
    if (ca != cb || ca == 0)
      return ca - cb;
  }
  return 0;
}

int mwa_stricmp(const char *a, const char *b) { return mwa_strnicmp(a, b, static_cast<size_t>(-1)); }

void mwa_memzero(void *buf, size_t len) { memset(buf, 0, len); }
