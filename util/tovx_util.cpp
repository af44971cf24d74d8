#include "tovx_util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/file.h"
#include "platform/procinfo.h"
#include "platform/registry.h"

namespace {

enum { LV_FATAL, LV_INFO, LV_WARN, LV_ERROR };
enum { MODE_START = 1, MODE_ILLEGAL = 2, MODE_CLEANUP = 3 };
enum Kind { KIND_KEY, KIND_VALUE };
enum View { VIEW_PLAIN, VIEW_64 };

const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kInstaller[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char kUserFeatures[] = "Software\\Microsoft\\Installer\\Features";
const char kUserProducts[] = "Software\\Microsoft\\Installer\\Products";
const char kUserUpgrade[] = "Software\\Microsoft\\Installer\\UpgradeCodes";

struct Run {
  char logPath[1100];
  int mode;
  bool silent;
  int isWow64;
  int hasViewDelete;
  int access64;
  int errCount;
  std::string localPackage, productIcon, productDir;
};

Run fs_run;

void fs_log(int level, const char *id, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void fs_log(int level, const char *id, const char *fmt, ...) {
  static const char *const levels[] = {"FATAL", "INFO ", "WARN ", "ERROR"};
  char text[1025];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  time_t now = time(nullptr);
  struct tm tmv;
  struct tm *tm = localtime(&now);
  if (tm)
    tmv = *tm;
  else
    memset(&tmv, 0, sizeof tmv);
  FILE *fp = pl_file_open(fs_run.logPath, "a", 0, nullptr);
  if (!fp)
    return; // a line that cannot be written is dropped
  fprintf(fp, "%s %02d-%02d-%04d %02d:%02d:%02d %s %s\n", levels[level], tmv.tm_mon + 1, tmv.tm_mday,
          tmv.tm_year + 1900, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, id, text);
  fclose(fp);
}

// Logs a message that is also echoed on standard output unless silent.
void fs_echo(const char *id, const char *fmt, const char *a, const char *b = nullptr, const char *c = nullptr) {
  char text[1025];
  snprintf(text, sizeof text, fmt, a, b, c);
  fs_log(LV_INFO, id, "%s", text);
  if (!fs_run.silent)
    printf("%s\n", text);
}

// The log lives at the root of the system drive: SystemDrive, or the drive
// of windir, or (neither set, as on POSIX) the file system's root.
void fs_logName() {
  char drive[1025] = "";
  long n = pl_getenv("SystemDrive", drive, 1024);
  if (n < 0 || n >= 1024) {
    char windir[1025];
    long w = pl_getenv("windir", windir, sizeof windir);
    drive[0] = '\0';
    if (w >= 2 && w < static_cast<long>(sizeof windir))
      snprintf(drive, sizeof drive, "%.2s", windir);
  }
  snprintf(fs_run.logPath, sizeof fs_run.logPath, "%s%c%s", drive, pl_path_sep, "TovexAgent_util.log");
}

const char *fs_rootName(PlRegRoot root) { return root == PL_HKLM ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"; }

int fs_accessFor(View view) { return view == VIEW_64 && fs_run.isWow64 ? fs_run.access64 : PL_REG_ALL; }

// Deletes one key or value; true when it is gone (or was never there).
bool fs_deleteRegistry(PlRegRoot root, const std::string &path, const char *name, View view, Kind kind) {
  PlHkey key;
  int access = fs_accessFor(view);
  if (pl_reg_open(pl_reg_root(root), path.c_str(), access, &key) != 0) {
    fs_log(LV_INFO, "XVRT65005-I", "Registry not found : %s\\%s", fs_rootName(root), path.c_str());
    return true;
  }
  int rc;
  if (kind == KIND_VALUE)
    rc = pl_reg_delete_value(key, name);
  else if (view == VIEW_64 && fs_run.isWow64 && fs_run.hasViewDelete)
    rc = pl_reg_delete_key(key, name, PL_REG_VIEW64);
  else
    rc = pl_reg_delete_key(key, name, 0);
  bool ok = true;
  if (rc == 0) {
    fs_echo("XVRT65004-I", "Delete registry : %s\\%s\\%s", fs_rootName(root), path.c_str(), name);
  } else if (rc == PL_ERR_FILE_NOT_FOUND) {
    fs_log(LV_INFO, "XVRT65005-I", "Registry not found : %s\\%s\\%s", fs_rootName(root), path.c_str(), name);
  } else {
    fs_log(LV_WARN, "XVRT65302-W", "Failed delete registry : %s\\%s\\%s", fs_rootName(root), path.c_str(), name);
    ok = false;
    ++fs_run.errCount;
  }
  pl_reg_close(key);
  return ok;
}

void fs_deleteFile(const std::string &path) {
  pl_file_clear_readonly(path.c_str());
  int rc = pl_file_delete(path.c_str());
  if (rc == 0) {
    fs_echo("XVRT65006-I", "Delete file : %s", path.c_str());
  } else if (rc == ENOENT) {
    fs_log(LV_INFO, "XVRT65007-I", "File not found : %s", path.c_str());
  } else {
    fs_log(LV_WARN, "XVRT65303-W", "Failed delete file : %s", path.c_str());
    ++fs_run.errCount;
  }
}

void fs_removeDir(const std::string &path) {
  int rc = pl_dir_remove(path.c_str());
  if (rc == 0) {
    fs_echo("XVRT65008-I", "Delete Directory : %s", path.c_str());
  } else if (rc == ENOENT) {
    fs_log(LV_INFO, "XVRT65009-I", "Directory not found : %s", path.c_str());
  } else {
    fs_log(LV_WARN, "XVRT65304-W", "Failed delete Directory : %s", path.c_str());
    ++fs_run.errCount;
  }
}

// A string value, or "" when it cannot be read.
std::string fs_readString(PlHkey key, const char *name) {
  char buf[1025];
  uint32_t len = sizeof buf - 1, type = 0;
  if (pl_reg_query_value(key, name, &type, buf, &len) != 0)
    return "";
  buf[len] = '\0';
  return buf;
}

// Splits at percent signs, as strtok does (empty parts skipped): the
// first part names an environment variable, the second is the rest. With
// the variable set and a rest, the value is the variable's value and the
// rest; so "%NAME%rest" is expanded and other forms stay as they are.
} // namespace

std::string TovxExpandIcon(const std::string &icon) {
  if (icon.find('%') == std::string::npos)
    return icon;
  std::string parts[2];
  int found = 0;
  for (size_t pos = 0; found < 2 && pos < icon.size();) {
    size_t next = icon.find('%', pos);
    size_t end = next == std::string::npos ? icon.size() : next;
    if (end > pos)
      parts[found++] = icon.substr(pos, end - pos);
    pos = end + 1;
  }
  char value[1025];
  long n = found == 2 ? pl_getenv(parts[0].c_str(), value, sizeof value) : -1;
  if (n <= 0 || n >= static_cast<long>(sizeof value))
    return icon;
  return std::string(value) + parts[1];
}

namespace {

int fs_analysisArgs(int argc, char **argv, std::string *illegal) {
  fs_log(LV_INFO, "XVRT65001-I", "ENTER - analysisArgs");
  fs_run.mode = MODE_START;
  fs_run.silent = false;
  char line[1025];
  pl_command_line(argc, argv, line, sizeof line);
  fs_log(LV_INFO, "XVRT65003-I", "Variable Args is set to %s", line);
  int rc = 0;
  if (argc < 2) {
    *illegal = "No Argument";
    rc = 1;
  }
  for (int i = 1; i < argc && rc == 0; ++i) {
    if (strcmp(argv[i], "-cleanup") == 0 && fs_run.mode != MODE_CLEANUP) {
      fs_run.mode = MODE_CLEANUP;
      fs_log(LV_INFO, "XVRT65003-I", "Variable UtilExecMode is set to cleanup");
    } else if (strcmp(argv[i], "-s") == 0 && !fs_run.silent) {
      fs_run.silent = true;
      fs_log(LV_INFO, "XVRT65003-I", "Variable UtilSilentMode is set to TRUE");
    } else {
      fs_run.mode = MODE_ILLEGAL;
      std::string all;
      for (int j = 1; j < argc; ++j)
        all += (j > 1 ? " " : "") + std::string(argv[j]);
      *illegal = all.substr(0, 1024);
      rc = 1;
    }
  }
  fs_log(LV_INFO, "XVRT65002-I", "LEAVE - analysisArgs RC=%d", rc);
  return rc;
}

int fs_tovxCleanup() {
  fs_log(LV_INFO, "XVRT65001-I", "ENTER - tovxCleanup");
  fs_run.isWow64 = pl_is_wow64();
  fs_run.access64 = PL_REG_ALL | (fs_run.isWow64 ? PL_REG_VIEW64 : 0);
  fs_log(LV_INFO, "XVRT65003-I", "Variable bIsWow64 is set to %d", fs_run.isWow64);
  fs_run.hasViewDelete = pl_reg_has_view_delete();
  fs_log(LV_INFO, "XVRT65003-I", "Variable bLoadRegDeleteKeyEx is set to %d", fs_run.hasViewDelete);

  const std::string packed = kPackedProductCode;
  fs_deleteRegistry(PL_HKLM, kUninstall, kProductCode, VIEW_PLAIN, KIND_KEY);
  fs_deleteRegistry(PL_HKLM, kUninstall, kProductCode, VIEW_64, KIND_KEY);
  fs_deleteRegistry(PL_HKLM, std::string(kInstaller) + "\\UpgradeCodes\\" + kPackedUpgradeCode,
                    kPackedProductCode, VIEW_64, KIND_VALUE);

  const std::string userData = std::string(kInstaller) + "\\UserData";
  PlHkey ud;
  if (pl_reg_open(pl_reg_root(PL_HKLM), userData.c_str(), fs_run.access64, &ud) == 0) {
    for (uint32_t i = 0;; ++i) {
      char user[1025];
      uint32_t len = sizeof user;
      if (pl_reg_enum_key(ud, i, user, &len) != 0)
        break;
      const std::string u = userData + "\\" + user;
      const std::string product = u + "\\Products\\" + packed;
      PlHkey pk;
      if (pl_reg_open(pl_reg_root(PL_HKLM), product.c_str(), fs_run.access64, &pk) != 0) {
        fs_log(LV_INFO, "XVRT65005-I", "Registry not found : %s\\%s", "HKEY_LOCAL_MACHINE", product.c_str());
        continue;
      }
      PlHkey props;
      if (pl_reg_open(pk, "InstallProperties", fs_run.access64, &props) == 0) {
        std::string local = fs_readString(props, "LocalPackage");
        if (!local.empty()) {
          fs_run.localPackage = local;
          fs_log(LV_INFO, "XVRT65003-I", "Variable szLocalPackage is set to %s", local.c_str());
        }
        pl_reg_close(props);
      }
      pl_reg_close(pk);
      for (const char *sub : {"Features", "InstallProperties", "Patches", "Usage"})
        fs_deleteRegistry(PL_HKLM, product, sub, VIEW_64, KIND_KEY);
      fs_deleteRegistry(PL_HKLM, u + "\\Products", kPackedProductCode, VIEW_64, KIND_KEY);
      for (const char *code : kPackedComponentCodes)
        fs_deleteRegistry(PL_HKLM, u + "\\Components", code, VIEW_64, KIND_KEY);
    }
    pl_reg_close(ud);
  }

  fs_deleteRegistry(PL_HKCU, kUserFeatures, kPackedProductCode, VIEW_PLAIN, KIND_KEY);
  const std::string userProduct = std::string(kUserProducts) + "\\" + packed;
  PlHkey up;
  if (pl_reg_open(pl_reg_root(PL_HKCU), userProduct.c_str(), PL_REG_ALL, &up) == 0) {
    std::string icon = fs_readString(up, "ProductIcon");
    pl_reg_close(up);
    if (!icon.empty()) {
      fs_run.productIcon = TovxExpandIcon(icon);
      std::string marker = std::string(1, pl_path_sep) + "ARPPRODUCTICON.exe";
      size_t at = fs_run.productIcon.find(marker);
      fs_run.productDir = at == std::string::npos ? fs_run.productIcon : fs_run.productIcon.substr(0, at);
      fs_log(LV_INFO, "XVRT65003-I", "Variable szProductIcon is set to %s", fs_run.productIcon.c_str());
      fs_log(LV_INFO, "XVRT65003-I", "Variable szProductDir is set to %s", fs_run.productDir.c_str());
    }
  }
  fs_deleteRegistry(PL_HKCU, userProduct + "\\SourceList", "Media", VIEW_PLAIN, KIND_KEY);
  fs_deleteRegistry(PL_HKCU, userProduct + "\\SourceList", "Net", VIEW_PLAIN, KIND_KEY);
  fs_deleteRegistry(PL_HKCU, userProduct, "SourceList", VIEW_PLAIN, KIND_KEY);
  fs_deleteRegistry(PL_HKCU, kUserProducts, kPackedProductCode, VIEW_PLAIN, KIND_KEY);

  const std::string upgrade = std::string(kUserUpgrade) + "\\" + kPackedUpgradeCode;
  fs_deleteRegistry(PL_HKCU, upgrade, kPackedProductCode, VIEW_PLAIN, KIND_VALUE);
  int left = 0;
  PlHkey uk;
  if (pl_reg_open(pl_reg_root(PL_HKCU), upgrade.c_str(), PL_REG_ALL, &uk) == 0) {
    char name[1025];
    for (uint32_t len = sizeof name; pl_reg_enum_value(uk, static_cast<uint32_t>(left), name, &len, nullptr,
                                                       nullptr, nullptr) == 0;
         len = sizeof name)
      ++left;
    pl_reg_close(uk);
  }
  if (left == 0)
    fs_deleteRegistry(PL_HKCU, kUserUpgrade, kPackedUpgradeCode, VIEW_PLAIN, KIND_KEY);

  if (!fs_run.localPackage.empty())
    fs_deleteFile(fs_run.localPackage);
  if (!fs_run.productIcon.empty())
    fs_deleteFile(fs_run.productIcon);
  if (!fs_run.productDir.empty())
    fs_removeDir(fs_run.productDir);

  fs_log(LV_INFO, "XVRT65003-I", "Variable nErrCount is set to %d", fs_run.errCount);
  fs_log(LV_INFO, "XVRT65002-I", "LEAVE - tovxCleanup");
  return fs_run.errCount > 0 ? 2 : 0;
}

} // namespace

int TovxUtilMain(int argc, char **argv) {
  fs_run = Run();
  fs_logName();
  fs_log(LV_INFO, "XVRT65001-I", "ENTER - tovx_util");
  char user[1025];
  if (pl_user_name(user, sizeof user) == 0)
    fs_log(LV_INFO, "XVRT65003-I", "Variable UserName is set to %s", user);
  std::string illegal;
  int status;
  if (fs_analysisArgs(argc, argv, &illegal) != 0) {
    if (argc < 2) {
      printf("tovx_util [-cleanup]\n");
    } else {
      fs_log(LV_WARN, "XVRT65301-W", "An illegal option is specified. [%s]", illegal.c_str());
      printf("An illegal option is specified. [%s]\n", illegal.c_str());
    }
    status = 1;
  } else {
    status = fs_run.mode == MODE_CLEANUP ? fs_tovxCleanup() : 0;
  }
  fs_log(LV_INFO, "XVRT65002-I", "LEAVE - tovx_util RC=%d", status);
  fflush(stdout);
  return status;
}
