#include "memsnap.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/proc.h"
#include "platform/procinfo.h"
#include "reqchannel.h"

namespace {

const char kName[] = "memsnap";
const int kMaxDumps = 31;

const char *const kLongUsage[] = {
    "usage: %s [options] -p process-id\n",
    "\toptions:\n",
    "\t -dir    (absolute directory name)\n",
    "\t -name   (output file prefix)\n",
    "\t -start  (get the first dump for memory leak detection)\n",
    "\t -stop   (get the last dump and detect memory leak.)\n",
    "\t    note: all of dump and temporary file is removed automatically.\n",
    "\tspecial options:\n",
    "\t -dstop      (only change dump mode to normal mode.)\n",
    "\t -status     (show current dump status)\n",
    "\t -heapaudit (get dump and detect memory leaks)\n",
    "\t -remaindump (don't remove dump file)\n",
    "\t -removedump (remove dump files)\n",
    "\tunsupported options:\n",
    "\t -it (interval (seconds))\n",
    "\t -n  (maximum number of taking heapdump\n",
    "\t -lv (dump level)\n",
    "\t     -lv 1 ... reference dump (full)\n",
    "\t     -lv 3 ... summary dump\n",
    "\t     -lv 4 ... reference dump (reduced)\n",
};

RcChannel fs_ch;
MsSettings *fs_s;
long fs_limit;
char fs_modePath[RC_PATH_MAX];
char fs_lockPath[RC_PATH_MAX];
long fs_ownPid;

void fs_longUsage() {
  fprintf(stderr, kLongUsage[0], kName);
  for (size_t i = 1; i < sizeof kLongUsage / sizeof *kLongUsage; ++i)
    fputs(kLongUsage[i], stderr);
}

[[noreturn]] void fs_exit(int code) {
  fflush(stderr);
  fflush(stdout);
  exit(code);
}

// Every name and argument is built in a buffer of RC_PATH_MAX.
void fs_format(char *buf, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void fs_format(char *buf, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, RC_PATH_MAX, fmt, ap);
  va_end(ap);
  if (n < 0 || n >= RC_PATH_MAX) {
    fputs("os_snprintf: error\n", stderr);
    fs_exit(1);
  }
}

void fs_addOption(char *cmd, size_t cap, const char *arg) {
  if (strlen(cmd) + 1 + strlen(arg) + 1 > cap) {
    fputs("add_option_string: out of dest length\n", stderr);
    fs_exit(1);
  }
  strcat(cmd, " ");
  strcat(cmd, arg);
}

bool fs_allDigits(const char *s) {
  for (; *s; ++s)
    if (*s < '0' || *s > '9')
      return false;
  return true;
}

// --- the mode file ---

void fs_removeModeFiles() {
  if (fs_modePath[0])
    rc_remove_work_file(stderr, kName, fs_modePath, fs_ch.tmpdir);
  if (fs_lockPath[0])
    rc_remove_work_file(stderr, kName, fs_lockPath, fs_ch.tmpdir);
}

// Deletes the series' mode files, lets the JVM see that, and ends.
[[noreturn]] void fs_errorPath() {
  fs_removeModeFiles();
  rc_exchange(&fs_ch, fs_limit, {});
  fs_exit(1);
}

void fs_lock() { pl_file_create_new(fs_lockPath); }

void fs_unlock() {
  if (pl_file_delete(fs_lockPath) != 0 && pl_file_exists(fs_lockPath))
    fs_exit(1);
}

bool fs_modeExists() {
  FILE *f = fopen(fs_modePath, "rb");
  if (!f)
    return false;
  fclose(f);
  return true;
}

FILE *fs_openMode(const char *mode) {
  FILE *f = fopen(fs_modePath, mode);
  if (!f) {
    fprintf(stderr, "%s: can't open file %s for reading\n", kName, fs_modePath);
    fs_errorPath();
  }
  return f;
}

void fs_putInt(FILE *f, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
  if (fwrite(b, 1, 4, f) != 4) {
    fprintf(stderr, "%s: can't write integer data\n", kName);
    fs_exit(1);
  }
}

void fs_putFlag(FILE *f, int v) {
  if (fputc(v, f) == EOF) {
    fprintf(stderr, "%s: can't write character data\n", kName);
    fs_exit(1);
  }
}

int32_t fs_getInt(FILE *f) {
  unsigned char b[4];
  if (fread(b, 1, 4, f) != 4) {
    fprintf(stderr, "%s: can't read integer data\n", kName);
    fs_exit(1);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

int fs_getFlag(FILE *f) {
  int c = fgetc(f);
  if (c == EOF) {
    fprintf(stderr, "%s: can't read character data\n", kName);
    fs_exit(1);
  }
  return c;
}

void fs_createMode(const MsSettings &s) {
  fs_lock();
  FILE *f = fopen(fs_modePath, "wb");
  if (!f) {
    fprintf(stderr, "%s: can't open file %s for writing.\n", kName, fs_modePath);
    fs_unlock();
    fs_errorPath();
  }
  fs_putFlag(f, 0);
  fs_putInt(f, 0);
  fs_putInt(f, static_cast<int32_t>(fs_ownPid));
  fs_putInt(f, s.level);
  fs_putInt(f, s.interval);
  fs_putInt(f, s.max);
  fs_putInt(f, static_cast<int32_t>(s.base.size()));
  if (fwrite(s.base.c_str(), 1, s.base.size() + 1, f) != s.base.size() + 1) {
    fprintf(stderr, "%s: can't write integer data\n", kName);
    fs_exit(1);
  }
  fclose(f);
  fs_unlock();
}

MsModeFile fs_readAll() {
  FILE *f = fs_openMode("rb");
  MsModeFile m;
  m.flag = static_cast<uint8_t>(fs_getFlag(f));
  m.count = fs_getInt(f);
  m.owner = fs_getInt(f);
  m.level = fs_getInt(f);
  m.interval = fs_getInt(f);
  m.max = fs_getInt(f);
  int32_t len = fs_getInt(f);
  if (len > MS_NAME_MAX || len < 0) {
    fputs("read string length is too long\n", stderr);
    fclose(f);
    fs_exit(1);
  }
  std::vector<char> name(static_cast<size_t>(len) + 1);
  if (fread(name.data(), 1, name.size(), f) != name.size()) {
    fprintf(stderr, "%s: can't read integer data\n", kName);
    fs_exit(1);
  }
  name.back() = '\0';
  m.base = name.data();
  fclose(f);
  return m;
}

void fs_markForDump(int level) {
  fs_lock();
  FILE *f = fs_openMode("r+b");
  fseek(f, 0, SEEK_SET);
  fs_putFlag(f, 1);
  fseek(f, 9, SEEK_SET);
  fs_putInt(f, level);
  fclose(f);
  fs_unlock();
}

int32_t fs_readCount() {
  fs_lock();
  FILE *f = fs_openMode("rb");
  fseek(f, 1, SEEK_SET);
  int32_t c = fs_getInt(f);
  fclose(f);
  fs_unlock();
  return c;
}

void fs_stopOperation(const MsSettings &s) {
  fputs("\n*** Stop heapdump mode operation ***\n", stderr);
  if (!fs_modeExists()) {
    fprintf(stderr, "JavaVM %d is normal mode\n", static_cast<int>(s.pid));
    return;
  }
  fs_lock();
  FILE *f = fs_openMode("r+b");
  fs_putFlag(f, 1);
  fs_putInt(f, -1);
  fclose(f);
  fs_unlock();
  int rc = rc_exchange(&fs_ch, fs_limit, {});
  if (rc >= 0)
    fs_exit(rc);
}

void fs_status(const MsSettings &s) {
  fputs("\n*** JavaVM Heapdump Status ***\n", stderr);
  if (!fs_modeExists()) {
    fprintf(stderr, "JavaVM %d isn't heapdump mode\n", static_cast<int>(s.pid));
    return;
  }
  fs_lock();
  MsModeFile m = fs_readAll();
  fs_unlock();
  fprintf(stderr, "JavaVM process     : %d\n", static_cast<int>(s.pid));
  fprintf(stderr, "memsnap prodess  : %d\n", m.owner);
  fprintf(stderr, "Heapdump level     : %d\n", m.level);
  fprintf(stderr, "Heapdump interval  : %d\n", m.interval);
  fprintf(stderr, "Heapdump number    : %d / %d\n", m.count, m.max);
  fprintf(stderr, "Output dir/name    : %s\n", m.base.c_str());
}

// --- dump files ---

bool fs_firstRunCheck(const std::string &dir, const std::string &prefix) {
  std::string bad = ms_invalid_characters(prefix);
  if (!bad.empty()) {
    fprintf(stderr, "filename \"%s\" contains invalid character. [%s]\n", prefix.c_str(), bad.c_str());
    return false;
  }
  std::vector<std::string> entries;
  if (pl_dir_list(dir.c_str(), &entries) != 0) {
    fprintf(stderr, "directory %s cannot be accessed\n", dir.c_str());
    return false;
  }
  if (dir.size() + prefix.size() + 10 > RC_PATH_MAX) {
    fputs("too long directory and header name\n", stderr);
    return false;
  }
  std::string lead = prefix + ".";
  for (const std::string &e : entries) {
    if (e.compare(0, lead.size(), lead) != 0)
      continue;
    std::string path = dir;
    if (path.empty() || path.back() != pl_path_sep)
      path += pl_path_sep;
    path += e;
    if (pl_file_kind(path.c_str()) == 2) // a directory
      continue;
    fprintf(stderr, "%s* has already been existed in %s probably...\n", lead.c_str(), dir.c_str());
    return false;
  }
  return true;
}

bool fs_nextDumpCheck(const MsSettings &s) {
  if (s.base.empty()) {
    fputs("heapdump mode file doesn't include dump header name\n", stderr);
    return false;
  }
  char name[RC_PATH_MAX];
  fs_format(name, "%s.%d.bin", s.base.c_str(), s.current + 1);
  if (FILE *f = fopen(name, "rb")) {
    fclose(f);
    fprintf(stderr, "Heap dump file %s is already existed\n", name);
    return false;
  }
  return true;
}

void fs_removeDumps(const MsSettings &s) {
  if (!s.remaindump) {
    for (int n = 1; n <= kMaxDumps; ++n) {
      char name[RC_PATH_MAX];
      fs_format(name, "%s%c%s.%d.bin", s.dir.c_str(), pl_path_sep, s.prefix.c_str(), n);
      if (pl_file_exists(name))
        rc_remove_work_file(stderr, kName, name, s.dir.c_str());
    }
  }
  fprintf(stderr, "Removed dumpfile: %s%c%s.?.bin\n", s.dir.c_str(), pl_path_sep, s.prefix.c_str());
}

void fs_detect(const MsSettings &s) {
  if (s.current < 2) {
    fputs("Two dump files are needed at least for memory leak detection.\n", stderr);
    return;
  }
  static const char *const kinds[] = {"-detectk total", "-detectk diff", "-detectk class", "-detectk auto"};
  if (s.kind < 0 || s.kind > 3) {
    fputs("process_heapaudit: unexpected kind for leak detection\n", stderr);
    fs_exit(1);
  }
  char cmd[RC_PATH_MAX] = "";
  char arg[RC_PATH_MAX];
  fs_addOption(cmd, sizeof cmd, "heapaudit");
  fs_addOption(cmd, sizeof cmd, kinds[s.kind]);
  fs_addOption(cmd, sizeof cmd, "-o");
  fs_format(arg, ".%c%s.leak.txt", pl_path_sep, s.prefix.c_str());
  fs_addOption(cmd, sizeof cmd, arg);
  fs_addOption(cmd, sizeof cmd, "-detail");
  fs_format(arg, "%s %d", "-datanum", s.current);
  fs_addOption(cmd, sizeof cmd, arg);
  for (int n = 1; n <= s.current; ++n) {
    fs_format(arg, "%s.%d.bin", s.base.c_str(), n);
    fs_addOption(cmd, sizeof cmd, arg);
  }
  fprintf(stderr, "command: %s\n", cmd);
  fflush(stderr);
  FILE *p = pl_popen_read(cmd);
  if (!p) {
    fputs("os_popen: error\n", stderr);
    fs_exit(1);
  }
  char buf[4096];
  while (fread(buf, 1, sizeof buf, p) > 0) {
  }
  if (pl_pclose(p) != 0) {
    fputs("error occured in Heapauditor\n", stderr);
    fs_exit(1);
  }
}

void fs_afterDump(MsSettings &s) {
  int32_t count = fs_readCount();
  if (count <= s.current) {
    fprintf(stderr, "%s: no heapdump is output...\n", kName);
    fs_errorPath();
  }
  s.current = count;
  fprintf(stderr, "... heap dump done (Num: %d / %d)\n", s.current, s.max);
  if (s.stop || s.current == s.max) {
    fs_removeModeFiles();
    fs_stopOperation(s);
  }
  if (s.detect)
    fs_detect(s);
  if (s.stop && !s.remaindump)
    fs_removeDumps(s);
}

void fs_intervalLoop(MsSettings &s) {
  for (;;) {
    fs_lock();
    FILE *f = fs_openMode("rb");
    fs_getFlag(f);
    fs_getInt(f);
    int32_t owner = fs_getInt(f);
    fclose(f);
    fs_unlock();
    if (owner != static_cast<int32_t>(fs_ownPid)) {
      fprintf(stderr, "%s(%d): heapdump mode file is created by process(%d)\n", kName, static_cast<int>(fs_ownPid),
              owner);
      fs_exit(1);
    }
    fs_markForDump(s.level);
    fprintf(stderr, "Send SIGBREAK to JavaVM %d ... ", static_cast<int>(s.pid));
    int rc = rc_exchange(&fs_ch, fs_limit, {});
    if (rc >= 0)
      fs_exit(rc);
    int32_t count = fs_readCount();
    if (count <= s.current) {
      fprintf(stderr, "%s: no heapdump is output...\n", kName);
      fs_errorPath();
    }
    s.current = count;
    fprintf(stderr, "done (Num: %d / %d, Elapsed time: %d)\n", count, s.max, (count - 1) * s.interval);
    pl_sleep_ms(static_cast<unsigned>(s.interval) * 1000u);
    if (s.current < s.max - 1)
      continue;
    if (s.detect)
      s.level = 4;
    s.stop = true;
    fs_markForDump(s.level);
    return;
  }
}

void fs_header(const MsSettings &s) {
  fprintf(stderr, "JavaVM process     : %d\n", static_cast<int>(s.pid));
  fprintf(stderr, "Heapdump level     : %d ... ", s.level);
  switch (s.level) {
  case 1:
    fputs("full reference\n", stderr);
    break;
  case 3:
    fputs("summary only\n", stderr);
    break;
  case 4:
    fputs("full reference (reduced)\n", stderr);
    break;
  default:
    fputs("unexpected type (error)\n", stderr);
    fs_exit(1);
  }
  if (s.manual) {
    fputs("Heapdump mode      : manual dump\n", stderr);
    fprintf(stderr, "Heapdump number    : %d/%d\n", s.current + 1, s.max);
  } else {
    fprintf(stderr, "Heapdump mode      : interval dump (%d)\n", s.interval);
    fprintf(stderr, "Heapdump number    : %d\n", s.max);
  }
  fprintf(stderr, "Output dir/name    : %s\n", s.base.c_str());
}

// A text option's value: present, not an option, and within the buffers.
bool fs_textValue(MsSettings *s, int argc, char **argv, int *i, bool *bad, const char *what, std::string *out) {
  if (*i + 1 >= argc || argv[*i + 1][0] == '-') {
    *s->msgs += std::string(kName) + ": " + what + " option needs string argument\n";
    *bad = true;
    return false;
  }
  const char *v = argv[++*i];
  if (strlen(v) >= RC_PATH_MAX) {
    *s->msgs += std::string(kName) + ": " + what + " value is too long (259 characters at most)\n";
    *bad = true;
    return false;
  }
  *out = v;
  return true;
}

} // namespace

std::string ms_invalid_characters(const std::string &p) {
  static const char bad[] = {'\\', '/', ':', '*', '?', '<', '>', '|'};
  std::string list;
  for (char c : bad)
    if (p.find(c) != std::string::npos) {
      if (!list.empty())
        list += ",";
      list += std::string("'") + c + "'";
    }
  return list;
}


bool ms_tool_option(void *ctx, int argc, char **argv, int *i, bool *bad) {
  MsSettings *s = static_cast<MsSettings *>(ctx);
  const char *a = argv[*i];
  std::string &msgs = *s->msgs;
  const std::string name = kName;
  const bool more = *i + 1 < argc;
  const char *v = more ? argv[*i + 1] : nullptr;
  if (strcmp(a, "-dir") == 0) {
    fs_textValue(s, argc, argv, i, bad, "-dir", &s->dir);
  } else if (strcmp(a, "-name") == 0) {
    fs_textValue(s, argc, argv, i, bad, "-name", &s->prefix);
  } else if (strcmp(a, "-start") == 0) {
    s->level = 3;
    s->start = true;
    s->level_given = true;
  } else if (strcmp(a, "-stop") == 0) {
    s->level = 4;
    s->stop = true;
    s->level_given = true;
    s->detect = true;
    s->kind = 3;
  } else if (strcmp(a, "-heapaudit") == 0) {
    if (!more || v[0] == '-') {
      msgs += name + ": -heapaudit option needs string argument\n";
      *bad = true;
      return true;
    }
    static const char *const kinds[] = {"total", "diff", "class", "auto"};
    int k = -1;
    for (int j = 0; j < 4; ++j)
      if (strcmp(v, kinds[j]) == 0)
        k = j;
    if (k < 0) {
      msgs += name + ": unexpected leak detection type\n";
      *bad = true;
      return true; // the word is met again as an argument
    }
    ++*i;
    s->level = 4;
    s->detect = true;
    s->level_given = true;
    s->kind = k;
  } else if (strcmp(a, "-nodetect") == 0) {
    s->detect = false;
  } else if (strcmp(a, "-dstop") == 0) {
    s->dstop = true;
  } else if (strcmp(a, "-status") == 0) {
    s->status = true;
  } else if (strcmp(a, "-remaindump") == 0) {
    s->remaindump = true;
  } else if (strcmp(a, "-removedump") == 0) {
    s->removedump = true;
  } else if (strcmp(a, "-help") == 0) {
    s->help = true;
  } else if (strcmp(a, "-n") == 0) {
    if (!more) {
      msgs += name + ": -n option needs integer number\n";
      *bad = true;
    } else if (v[0] == '-' || !fs_allDigits(v)) {
      msgs += name + ": maximum number of heapdump isn't digit\n";
      s->max = -1;
    } else {
      s->max = atoi(v);
      ++*i;
    }
  } else if (strcmp(a, "-it") == 0) {
    if (!more) {
      msgs += name + ": interval isn't digit\n";
      *bad = true;
    } else if (!fs_allDigits(v)) {
      msgs += name + ": interval isn't digit\n";
      *bad = true;
    } else {
      s->interval = atoi(v);
      s->interval_given = true;
      ++*i;
    }
  } else if (strcmp(a, "-lv") == 0) {
    if (!more) {
      msgs += name + ": dump level must be digit.\n";
      *bad = true;
    } else if (v[0] == '-' || !fs_allDigits(v) || atoi(v) == 0 || atoi(v) > 4) {
      msgs += name + ": heapdump level is out of range\n";
      s->level = -1;
    } else {
      s->level = atoi(v);
      s->level_given = true;
      ++*i;
    }
  } else {
    // Any other option is a command-line error without a message.
    *bad = true;
  }
  return true;
}

bool ms_check_combination(MsSettings *s, std::string *msgs) {
  char line[RC_PATH_MAX];
  int problems = 0;
  if (s->max > kMaxDumps) {
    snprintf(line, sizeof line, "%s: maximum number of heapdump(%d) > %d. set %d.\n", kName, s->max, kMaxDumps,
             kMaxDumps);
    *msgs += line;
    s->max = kMaxDumps;
  }
  auto problem = [&](const char *text) {
    *msgs += text;
    ++problems;
  };
  if (s->start && s->stop)
    problem("-start and -stop options must be used exclusively.\n");
  if (s->start && s->level != 3)
    problem("-start option is specified, but dump level isnot summary dump type\n");
  if ((s->detect || s->stop) && s->interval == 0 && s->level != 1 && s->level != 4)
    problem("Dump level must be 1 or 4 for memory leak detection\n");
  if (s->start && s->removedump)
    problem("-start and -removedump can't be specified.\n");
  if (s->remaindump && s->removedump)
    problem("-remaindump and -removedump can't be specified.\n");
  if (problems)
    return false;
  if (s->level == 2)
    s->level = 1;
  return true;
}

int ms_main(int argc, char **argv) {
  const RcProfile *prof = &rc_profiles[RC_MEMSNAP];
  static MsSettings settings;
  MsSettings &s = settings;
  fs_s = &s;
  fs_ownPid = static_cast<long>(pl_getpid());
  char env[RC_PATH_MAX + 1];
  for (auto v : {std::make_pair("ZENTRAK_HEAPDUMP_DIR", &s.dir), std::make_pair("ZENTRAK_HEAPDUMP_PREFIX", &s.prefix)}) {
    long n = pl_getenv(v.first, env, sizeof env);
    if (n < 0)
      continue;
    if (n >= RC_PATH_MAX) {
      fprintf(stderr, "%s: %s is too long (259 characters at most)\n", kName, v.first);
      return 1;
    }
    *v.second = env;
  }
  rc_init(&fs_ch, prof, 0);
  fs_ch.extra_cleanup = fs_removeModeFiles;
  int rc = rc_install_handlers(&fs_ch);
  if (rc >= 0)
    return rc;

  RcOptions opts;
  std::string msgs;
  s.msgs = &msgs;
  rc = rc_parse_options(prof, argc, argv, ms_tool_option, &s, &opts, &msgs);
  if (s.help) {
    fs_longUsage();
    return 0;
  }
  fputs(msgs.c_str(), stderr);
  if (rc >= 0)
    return rc;
  if (!opts.force && !rc_confirm(prof, stdin, stderr))
    return 1;
  s.pid = static_cast<long>(opts.pid);
  fs_limit = opts.limit;

  fs_ch.pid = opts.pid;
  if ((rc = rc_prepare(&fs_ch)) >= 0)
    return rc;
  msgs.clear();
  bool ok = ms_check_combination(&s, &msgs);
  fputs(msgs.c_str(), stderr);
  if (!ok) {
    fs_longUsage();
    return 1;
  }
  fs_format(fs_modePath, "%s%c.heapdump_mode.%d", fs_ch.tmpdir, pl_path_sep, static_cast<int>(s.pid));
  fs_format(fs_lockPath, "%s%clock_%d", fs_ch.tmpdir, pl_path_sep, static_cast<int>(s.pid));
  if (s.dir.empty())
    s.dir = fs_ch.tmpdir;
  bool exists = fs_modeExists();

  if (s.dstop) {
    fs_stopOperation(s);
    return 0;
  }
  if (s.status) {
    fs_status(s);
    return 0;
  }
  if (exists) {
    if (s.interval_given) {
      fprintf(stderr, "%d: Now processing previous request, this request canceled\n", static_cast<int>(s.pid));
      return 1;
    }
    int remembered = s.level;
    MsModeFile m = fs_readAll();
    s.current = m.count;
    s.level = m.level;
    s.interval = m.interval;
    s.max = m.max;
    s.base = m.base;
    size_t cut = s.base.rfind(pl_path_sep);
    if (cut == std::string::npos) {
      fputs("invalid heapdump file names\n", stderr);
      return 1;
    }
    s.prefix = s.base.substr(cut + 1);
    s.dir = s.base.substr(0, cut + 1);
    if (s.removedump) {
      fs_removeDumps(s);
      fs_stopOperation(s);
      return 0;
    }
    if (s.interval != 0) {
      fprintf(stderr, "%d: Now processing previous request, this request canceled\n", static_cast<int>(s.pid));
      return 1;
    }
    if (s.start && s.current > 0) {
      fputs("-start option can be specified only at first.\n", stderr);
      return 1;
    }
    if (s.level_given)
      s.level = remembered;
    if (!fs_nextDumpCheck(s))
      fs_errorPath();
    s.manual = true;
  } else {
    if (s.removedump) {
      fprintf(stderr, "Cannot remove dumpfiles (JavaVM(PID=%d) isnot heapdump mode).\n", static_cast<int>(s.pid));
      return 1;
    }
    if (!fs_firstRunCheck(s.dir, s.prefix))
      fs_errorPath();
    char base[RC_PATH_MAX];
    fs_format(base, "%s%c%s", s.dir.c_str(), pl_path_sep, s.prefix.c_str());
    s.base = base;
    if (s.interval <= 0)
      s.manual = true;
  }
  fs_header(s);
  if (!exists) {
    fs_createMode(s);
    fputs("... new heapdump mode file is created.\n\n", stderr);
  }
  if (s.manual)
    fs_markForDump(s.level);
  else
    fs_intervalLoop(s);
  rc = rc_exchange(&fs_ch, fs_limit, {});
  if (rc >= 0)
    return rc;
  fs_afterDump(s);
  fs_exit(0);
}
