// Finding the installation through the registry.
#include <cstring>

#include "mwa_system.h"
#include "platform/registry.h"

static const char fs_moduleName[] = "mwa_system_win";

static char fs_installDir[MWA_PATH_MAX];
static char fs_binDir[MWA_PATH_MAX];
static char fs_agentDir[MWA_PATH_MAX];
static char fs_logFile[MWA_PATH_MAX];
static int fs_isInitialized;

// HKLM\SOFTWARE\ZENTRAK\TovexAgent\<first subkey>\PathName, value Path00.
int mwa_readinstalldir(char *out, char *failedName, MwaErrorInfo *pErrorInfo) {
  static const char top_key[] = "SOFTWARE\\ZENTRAK\\TovexAgent";
  char scratch[MWA_SUBKEY_MAX];
  char *what = failedName ? failedName : scratch;
  what[0] = '\0';
  PlHkey top, product, pathName;
  int rc = pl_reg_open(pl_reg_root(PL_HKLM), top_key, PL_REG_READ, &top);
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "RegOpenKeyEx", rc);
    memcpy(what, top_key, sizeof top_key);
    return 0;
  }
  char name[MWA_SUBKEY_MAX];
  uint32_t nlen = sizeof name;
  rc = pl_reg_enum_key(top, 0, name, &nlen);
  if (rc) {
    pl_reg_close(top);
    MwaErrorInfo_set(pErrorInfo, "RegEnumKeyEx", rc);
    return 0;
  }
  rc = pl_reg_open(top, name, PL_REG_READ, &product);
  pl_reg_close(top);
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "RegOpenKeyEx", rc);
    memcpy(what, name, sizeof name);
    return 0;
  }
  rc = pl_reg_open(product, "PathName", PL_REG_READ, &pathName);
  pl_reg_close(product);
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "RegOpenKeyEx", rc);
    strcpy(what, "PathName");
    return 0;
  }
  char buf[MWA_PATH_MAX];
  uint32_t len = sizeof buf;
  rc = pl_reg_query_value(pathName, "Path00", nullptr, buf, &len);
  pl_reg_close(pathName);
  // The value holds its terminator; one that fills the buffer without
  // one does not fit.
  if (rc == 0 && len == sizeof buf && memchr(buf, '\0', len) == nullptr)
    rc = PL_ERR_MORE_DATA;
  if (rc) {
    MwaErrorInfo_set(pErrorInfo, "RegQueryValueEx", rc);
    strcpy(what, "Path00");
    return 0;
  }
  if (len < sizeof buf)
    buf[len] = '\0';
  memcpy(out, buf, sizeof buf);
  return 1;
}

int mwa_setinstalldir(const char *dir, MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  char install[MWA_PATH_MAX], bin[MWA_PATH_MAX], agent[MWA_PATH_MAX], log[MWA_PATH_MAX];
  size_t n = strlen(dir);
  bool ok = n < sizeof install;
  if (ok) {
    memcpy(install, dir, n + 1);
    memcpy(bin, dir, n + 1);
    memcpy(agent, dir, n + 1);
    ok = mwa_joinpath(bin, sizeof bin, "bin") && mwa_joinpath(agent, sizeof agent, "agent");
  }
  if (ok) {
    memcpy(log, bin, sizeof bin);
    ok = mwa_joinpath(log, sizeof log, "logs") && mwa_joinpath(log, sizeof log, "tovxservice.log");
  }
  if (!ok) {
    MwaErrorInfo_set(pErrorInfo, "mwa_joinpath", 206); // ERROR_FILENAME_EXCED_RANGE
    return 0;
  }
  memcpy(fs_installDir, install, sizeof install);
  memcpy(fs_binDir, bin, sizeof bin);
  memcpy(fs_agentDir, agent, sizeof agent);
  memcpy(fs_logFile, log, sizeof log);
  fs_isInitialized = 1;
  return 1;
}

int mwa_sysinit(MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  char dir[MWA_PATH_MAX];
  if (!mwa_readinstalldir(dir, nullptr, pErrorInfo) || !mwa_setinstalldir(dir, pErrorInfo))
    return 0;
  return mwa_readversion(pErrorInfo);
}

const char *mwa_getinstalldir() {
  MWA_CHECK(fs_isInitialized);
  return fs_installDir;
}
const char *mwa_getbindir() {
  MWA_CHECK(fs_isInitialized);
  return fs_binDir;
}
const char *mwa_getagentdir() {
  MWA_CHECK(fs_isInitialized);
  return fs_agentDir;
}
const char *mwa_getlogfile() {
  MWA_CHECK(fs_isInitialized);
  return fs_logFile;
}
