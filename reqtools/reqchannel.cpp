#include "reqchannel.h"

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/mailslot.h"
#include "platform/signals.h"

const RcProfile rc_profiles[3] = {
    {"memsnap", "HDP", "lock_memsnap_req_", ".memsnap_req_",
     "Force VM to output Extended HeapDump: ? (y/n) ",
     "usage: memsnap [-name][-dir][-start][-stop] -p process-id \n", 120000, 2000, 2000, false},
    {"collectnow", "GC", "lock_collectnow_req_", ".collectnow_req_",
     "Force VM to execute GC: ? (y/n) ", "usage: collectnow [-f|-i][-v][-s] -p process-id \n", 200,
     3000, 3, true},
    {"objtally", "TOI", "lock_objtally_req_", ".objtally_req_",
     "Force VM to output ZentrakJavaHeapProfile: ? (y/n) ",
     "usage: objtally [-f|-i] [-class classname] -p process-id \n", 0, 3000, 3, true},
};

namespace {

const long long kMaxValue = 2147483647LL;

// The channel the interruption handler cleans up after.
RcChannel *volatile fs_active = nullptr;

// Reads an option value that holds decimal digits only, up to kMaxValue.
// An empty value reads as 0. False for any other character or a larger
// value.
bool fs_readNumber(const char *text, long *out) {
  long long v = 0;
  for (const char *p = text; *p; ++p) {
    if (*p < '0' || *p > '9')
      return false;
    v = v * 10 + (*p - '0');
    if (v > kMaxValue)
      return false;
  }
  *out = static_cast<long>(v);
  return true;
}

void fs_onInterrupt(int sig) {
  (void)sig;
  RcChannel *ch = fs_active;
  if (ch) {
    if (ch->req_path[0])
      rc_remove_work_file(ch->err, ch->prof->name, ch->req_path, ch->tmpdir);
    if (ch->lock_path[0])
      rc_remove_work_file(ch->err, ch->prof->name, ch->lock_path, ch->tmpdir);
    if (ch->extra_cleanup)
      ch->extra_cleanup();
    fflush(ch->err);
  }
  pl_exit_now(1);
}

void fs_cantCreate(RcChannel *ch) {
  fprintf(ch->err, "%s: can't create work file at temporary directory, this request canceled\n",
          ch->prof->name);
}

} // namespace

int rc_parse_options(const RcProfile *prof, int argc, char **argv, RcToolOption tool_option,
                     void *ctx, RcOptions *opts, std::string *msgs) {
  opts->pid = 0;
  opts->have_pid = false;
  opts->limit = prof->default_limit;
  opts->force = false;
  bool bad = argc < 2;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (arg[0] != '-')
      continue; // neither an option nor a value: ignored
    if (strcmp(arg, "-p") == 0 || strcmp(arg, "-t") == 0) {
      const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
      if (!value || value[0] == '-') {
        bad = true;
        continue;
      }
      ++i;
      long v;
      if (!fs_readNumber(value, &v)) {
        bad = true;
      } else if (arg[1] == 't') {
        opts->limit = v;
      } else if (opts->have_pid) {
        bad = true;
      } else {
        opts->pid = static_cast<unsigned long>(v);
        opts->have_pid = true;
      }
    } else if (strcmp(arg, "-f") == 0) {
      opts->force = true;
    } else if (strcmp(arg, "-i") == 0) {
      opts->force = false;
    } else if (!tool_option || !tool_option(ctx, argc, argv, &i, &bad)) {
      *msgs += std::string(prof->name) + ": illegal option -- " + (arg + 1) + "\n";
      bad = true;
    }
  }
  if (bad || !opts->have_pid) {
    *msgs += prof->usage;
    return 1;
  }
  if (opts->pid == 0) {
    *msgs += "0: Not owner\n";
    return 1;
  }
  return -1;
}

bool rc_confirm(const RcProfile *prof, FILE *in, FILE *err) {
  fputs(prof->prompt, err);
  fflush(err);
  int c = fgetc(in);
  return c == 'y' || c == 'Y';
}

void rc_init(RcChannel *ch, const RcProfile *prof, unsigned long pid) {
  memset(ch, 0, sizeof *ch);
  ch->prof = prof;
  ch->pid = pid;
  ch->err = stderr;
  ch->sleep_ms = pl_sleep_ms;
}

bool rc_build_name(char *buf, const char *dir, const char *base, unsigned long pid) {
  int n = snprintf(buf, RC_PATH_MAX, "%s%c%s%lu", dir, pl_path_sep, base, pid);
  if (n < 0 || n >= RC_PATH_MAX) {
    buf[0] = '\0';
    return false;
  }
  return true;
}

int rc_install_handlers(RcChannel *ch) {
  fs_active = ch;
  int e = pl_on_interrupt(fs_onInterrupt);
  if (e) {
    fprintf(ch->err, "%s: unexpected error occurred: %s (errno=%d)\n", ch->prof->name, "signal()", e);
    return 1;
  }
  return -1;
}

int rc_prepare(RcChannel *ch) {
  int n = pl_temp_dir(ch->tmpdir, sizeof ch->tmpdir);
  if (n <= 0 || n >= RC_PATH_MAX) {
    ch->tmpdir[0] = '\0';
    fprintf(ch->err, "%s: can't get temporary directory, this request canceled\n", ch->prof->name);
    return 1;
  }
  char lock[RC_PATH_MAX];
  if (!rc_build_name(lock, ch->tmpdir, ch->prof->lock_base, ch->pid)) {
    fputs("os_snprintf: error\n", ch->err);
    return 1;
  }
  memcpy(ch->lock_path, lock, sizeof lock);
  // A lock left by a killed run goes silently; one we cannot delete is
  // somebody's request in progress.
  if (pl_file_exists(ch->lock_path) && pl_file_delete(ch->lock_path) != 0 &&
      pl_file_exists(ch->lock_path)) {
    fprintf(ch->err, "%d: Now processing previous request, this request canceled\n",
            static_cast<int>(ch->pid));
    return 1;
  }
  char req[RC_PATH_MAX];
  if (!rc_build_name(req, ch->tmpdir, ch->prof->req_base, ch->pid)) {
    fputs("os_snprintf: error\n", ch->err);
    return 1;
  }
  memcpy(ch->req_path, req, sizeof req);
  return -1;
}

bool rc_lock_request(RcChannel *ch) { return pl_file_create_new(ch->lock_path) == 0; }

bool rc_unlock_request(RcChannel *ch) { return pl_file_delete(ch->lock_path) == 0; }

int rc_check_reply(RcChannel *ch) {
  if (!rc_lock_request(ch))
    return RC_REPLY_PENDING;
  int result;
  FILE *fp = pl_file_open(ch->req_path, "r", 0, nullptr);
  if (!fp) {
    result = RC_REPLY_NO_FILE;
  } else {
    char line[RC_PATH_MAX];
    if (!fgets(line, sizeof line, fp))
      result = RC_REPLY_EMPTY;
    else
      result = line[0] == '0' ? RC_REPLY_ANSWERED : RC_REPLY_PENDING;
    fclose(fp);
  }
  if (!rc_unlock_request(ch))
    return RC_REPLY_UNLOCK_FAILED;
  return result;
}

int rc_send_request(RcChannel *ch, const std::vector<std::string> &lines) {
  int r = rc_check_reply(ch);
  if (r == RC_REPLY_UNLOCK_FAILED)
    return 1;
  if (r == RC_REPLY_PENDING || !rc_lock_request(ch)) {
    fs_cantCreate(ch);
    return 1;
  }
  // Never through a link, never another user's file: the directory may
  // be shared by every user of the machine.
  FILE *fp = pl_file_open(ch->req_path, "w", PL_OPEN_NOFOLLOW | PL_OPEN_OWN_ONLY, nullptr);
  if (!fp) {
    fs_cantCreate(ch);
    rc_unlock_request(ch);
    return 1;
  }
  uint64_t now = pl_filetime_now();
  fprintf(fp, "1\n");
  fprintf(fp, "%lu %lu\n", static_cast<unsigned long>(now >> 32),
          static_cast<unsigned long>(now & 0xffffffffUL));
  for (const std::string &line : lines)
    fprintf(fp, "%s", line.c_str());
  bool written = fflush(fp) == 0;
  written = fclose(fp) == 0 && written;
  if (!rc_unlock_request(ch))
    return 1;
  if (!written) {
    pl_file_delete(ch->req_path);
    fs_cantCreate(ch);
    return 1;
  }

  char slotName[64];
  snprintf(slotName, sizeof slotName, "\\\\.\\mailslot\\Zentrak\\Tarno\\JDK\\pid%lu", ch->pid);
  char msg[RC_PATH_MAX + 32];
  int len = snprintf(msg, sizeof msg, "send SIGBREAK %s::%s", ch->prof->tag, ch->tmpdir);
  PlMailslot *slot = nullptr;
  int e = pl_mailslot_open(slotName, &slot);
  if (e == 0)
    e = pl_mailslot_write(slot, msg, static_cast<size_t>(len) + 1); // with the zero byte
  if (e != 0) {
    fprintf(ch->err, "%s: can't communicate with process %d.", ch->prof->name,
            static_cast<int>(ch->pid));
    pl_file_delete(ch->req_path);
    pl_mailslot_close(slot);
    if (ch->extra_cleanup)
      ch->extra_cleanup();
    return 1;
  }
  pl_mailslot_close(slot);
  return -1;
}

RcWait rc_wait_for_reply(RcChannel *ch, long limit) {
  if (limit < 0)
    return RC_WAIT_TIMEOUT;
  if (limit == 0) {
    // Without a limit any change counts: answered, emptied or deleted.
    int r = rc_check_reply(ch);
    while (r == RC_REPLY_PENDING) {
      ch->sleep_ms(ch->prof->poll_ms);
      r = rc_check_reply(ch);
    }
    return r == RC_REPLY_UNLOCK_FAILED ? RC_WAIT_UNLOCK_FAILED : RC_WAIT_ANSWERED;
  }
  long long elapsed = 0;
  do {
    ch->sleep_ms(ch->prof->poll_ms);
    if (ch->prof->vanish_is_error) {
      int e = 0;
      FILE *fp = pl_file_open(ch->req_path, "r", 0, &e);
      if (fp)
        fclose(fp);
      else if (e == ENOENT) {
        fprintf(ch->err, "%s: unexpected error occurred: %s (errno=%d)\n", ch->prof->name,
                "fopen()", e);
        return RC_WAIT_VANISHED;
      }
    }
    int r = rc_check_reply(ch);
    if (r == RC_REPLY_UNLOCK_FAILED)
      return RC_WAIT_UNLOCK_FAILED;
    if (r == RC_REPLY_ANSWERED)
      return RC_WAIT_ANSWERED;
    elapsed += ch->prof->poll_add;
  } while (elapsed < limit);
  return RC_WAIT_TIMEOUT;
}

int rc_finish_answered(RcChannel *ch) {
  if (!rc_lock_request(ch)) {
    fs_cantCreate(ch);
    return 1;
  }
  pl_file_delete(ch->req_path);
  if (!rc_unlock_request(ch))
    return 1;
  return -1;
}

int rc_finish_timeout(RcChannel *ch) {
  fprintf(ch->err, "%d: Timeout occurred. Java process not responding.\n", static_cast<int>(ch->pid));
  // A file the JVM removed meanwhile counts as deleted.
  bool gone = pl_file_delete(ch->req_path) == 0 || !pl_file_exists(ch->req_path);
  for (int retry = 0; !gone && retry < 3; ++retry) {
    ch->sleep_ms(1000);
    gone = pl_file_delete(ch->req_path) == 0 || !pl_file_exists(ch->req_path);
  }
  if (!gone) {
    fprintf(ch->err, "%s: please delete %s in \"%s\".\n", ch->prof->name,
            ch->req_path + strlen(ch->tmpdir) + 1, ch->tmpdir);
    return 2;
  }
  if (ch->extra_cleanup)
    ch->extra_cleanup();
  return 2;
}

void rc_remove_work_file(FILE *err, const char *name_word, const char *path, const char *dir) {
  if (pl_file_delete(path) == 0 || !pl_file_exists(path))
    return;
  size_t dlen = strlen(dir);
  const char *name = path;
  if (strncmp(path, dir, dlen) == 0 && path[dlen] == pl_path_sep)
    name = path + dlen + 1;
  fprintf(err, "%s: please delete %s in \"%s\".\n", name_word, name, dir);
}

int rc_exchange(RcChannel *ch, long limit, const std::vector<std::string> &lines) {
  int rc = rc_send_request(ch, lines);
  if (rc >= 0)
    return rc;
  switch (rc_wait_for_reply(ch, limit)) {
  case RC_WAIT_ANSWERED:
    return rc_finish_answered(ch);
  case RC_WAIT_TIMEOUT:
    return rc_finish_timeout(ch);
  case RC_WAIT_VANISHED:
  case RC_WAIT_UNLOCK_FAILED:
    break;
  }
  return 1;
}

int rc_run_tool(RcChannel *ch, const RcProfile *prof, int argc, char **argv, RcToolOption tool_option, void *ctx,
                std::vector<std::string> (*lines)(const void *ctx)) {
  rc_init(ch, prof, 0);
  int rc = rc_install_handlers(ch);
  if (rc >= 0)
    return rc;
  RcOptions opts;
  std::string msgs;
  rc = rc_parse_options(prof, argc, argv, tool_option, ctx, &opts, &msgs);
  fputs(msgs.c_str(), stderr);
  if (rc >= 0)
    return rc;
  if (!opts.force && !rc_confirm(prof, stdin, stderr))
    return 1;
  ch->pid = opts.pid;
  if ((rc = rc_prepare(ch)) >= 0)
    return rc;
  rc = rc_exchange(ch, opts.limit, lines(ctx));
  return rc >= 0 ? rc : 0;
}
