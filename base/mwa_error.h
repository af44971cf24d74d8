// Error records, debug checks and small string helpers of the base
// library.
#pragma once
#include <cstddef>
#include <cstdint>

// The caller-owned error record every failing routine fills.
struct MwaErrorInfo {
  const char *op; // static name of the failed operation
  int32_t err;    // its error number
};

void MwaErrorInfo_clear(MwaErrorInfo *info);
void MwaErrorInfo_set(MwaErrorInfo *info, const char *op, int32_t err);

// 1 while TALV_AGENT_ENABLE_DEBUG exists in the environment (looked up at
// every call).
int mwa_isdebug();
// Reports a failed check on stderr and ends the process with status 3.
[[noreturn]] void mwa_assertfail(const char *module, int line, const char *cond);

// A debug check: the condition is evaluated only while debugging is on.
// Each module defines fs_moduleName.
#define MWA_CHECK(cond)                                                                  \
  do {                                                                                   \
    if (mwa_isdebug() && !(cond))                                                        \
      mwa_assertfail(fs_moduleName, __LINE__, #cond);                                    \
  } while (0)

// The system's text for an error number; "(null)" when it has none.
void mwa_errortext(int32_t err, char *buf, int len);
// vsnprintf that always terminates; negative when the text did not fit.
int mwa_snprintf(char *buf, size_t len, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int mwa_stricmp(const char *a, const char *b);
int mwa_strnicmp(const char *a, const char *b, size_t n);
void mwa_memzero(void *buf, size_t len);
