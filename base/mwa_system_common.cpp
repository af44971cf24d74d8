// The version record: <installation>/etc/amc_version.properties.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "mwa_system.h"
#include "platform/file.h"

static const char fs_moduleName[] = "mwa_system_common";

static char fs_technical[MWA_VERSION_MAX];
static char fs_marketing[MWA_VERSION_MAX];
static char fs_build[MWA_VERSION_MAX];
static char fs_product[MWA_VERSION_MAX];

int mwa_readversion(MwaErrorInfo *pErrorInfo) {
  MWA_CHECK(pErrorInfo != NULL);
  char path[MWA_PATH_MAX];
  snprintf(path, sizeof path, "%s", mwa_getinstalldir());
  if (!mwa_joinpath(path, sizeof path, "etc") ||
      !mwa_joinpath(path, sizeof path, "amc_version.properties")) {
    MwaErrorInfo_set(pErrorInfo, "fopen", ENAMETOOLONG);
    return 0;
  }
  int err = 0;
  FILE *fp = pl_file_open(path, "r", 0, &err);
  if (!fp) {
    MwaErrorInfo_set(pErrorInfo, "fopen", err);
    return 0;
  }
  struct {
    const char *key;
    char *value;
  } keys[] = {{"version.technical", fs_technical},
              {"version.marketing", fs_marketing},
              {"version.build", fs_build},
              {"version.product", fs_product}};
  for (auto &k : keys)
    k.value[0] = '\0';
  char line[256];
  while (fgets(line, sizeof line, fp)) {
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n')
      line[--n] = '\0';
    for (auto &k : keys) {
      size_t klen = strlen(k.key);
      if (strncmp(line, k.key, klen) == 0 && line[klen] == '=')
        snprintf(k.value, MWA_VERSION_MAX, "%.63s", line + klen + 1);
    }
  }
  fclose(fp);
  return 1;
}

const char *mwa_getversiontechnical() { return fs_technical; }
const char *mwa_getversionmarketing() { return fs_marketing; }
const char *mwa_getversionbuild() { return fs_build; }
const char *mwa_getversionproduct() { return fs_product; }
