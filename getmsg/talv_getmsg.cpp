// tovx_getmsg: prints one message of the installation's message files,
// with numbered placeholders filled from the command line.
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mwa_error.h"
#include "mwa_msgbundle.h"
#include "mwa_system.h"
#include "platform/file.h"

static const char fs_moduleName[] = "talv_getmsg";

namespace {

const char fs_usage[] = "Usage: tovx_getmsg [-d <default string>] [-epvh]\n"
                        "                   <filename prefix> <resource ID> [<parameter> ...]\n";

enum { OUTPUT_MAX = 1024 };

struct ArgInfo {
  int opt_p;
  int opt_h;
  int opt_v;
  int opt_e;
  const char *defaultString;
  const char *filePrefix;
  const char *resourceID;
  char absoluteFilePrefix[MWA_PATH_MAX + 1];
  char **parameterList;
  int parameters;
};

int fs_tracing;

void fs_trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void fs_trace(const char *fmt, ...) {
  if (!fs_tracing)
    return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
}

const char *fs_text(const char *s) { return s ? s : "(NULL)"; }

// 1 when the command line is usable.
int fs_parse(ArgInfo *a, int argc, char **argv) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char *s = argv[i];
    switch (s[1]) {
    case 'd':
      if (i + 1 >= argc) {
        fputs("-d option must be followed by an argument.\n", stderr);
        return 0;
      }
      a->defaultString = argv[++i];
      break;
    case 'e':
      a->opt_e = 1;
      break;
    case 'h':
      a->opt_h = 1;
      break;
    case 'p':
      a->opt_p = 1;
      break;
    case 'v':
      a->opt_v = 1;
      break;
    default:
      fprintf(stderr, "Unrecognized option \"%s\" was specified.\n", s);
      return 0;
    }
  }
  if (argc - i < 2) {
    // Asking for the usage text is not an error to report.
    if (!a->opt_h)
      fputs("Both <filename prefix> and <resource ID> must be specified.\n", stderr);
    return 0;
  }
  a->filePrefix = argv[i];
  a->resourceID = argv[i + 1];
  a->parameterList = argv + i + 2;
  a->parameters = argc - i - 2;
  return 1;
}

void fs_dump(const ArgInfo *a) {
  fs_trace("argInfo->opt_p=%d\n", a->opt_p);
  fs_trace("argInfo->opt_h=%d\n", a->opt_h);
  fs_trace("argInfo->opt_v=%d\n", a->opt_v);
  fs_trace("argInfo->opt_e=%d\n", a->opt_e);
  fs_trace("argInfo->defaultString=%s\n", fs_text(a->defaultString));
  fs_trace("argInfo->filePrefix=%s\n", fs_text(a->filePrefix));
  fs_trace("argInfo->resourceID=%s\n", fs_text(a->resourceID));
  fs_trace("argInfo->absoluteFilePrefix=%s\n", a->absoluteFilePrefix);
  fs_trace("argInfo->parameters=%d\n", a->parameters);
}

// The prefix handed to the bundle; 0 when it cannot be built.
int fs_buildPrefix(ArgInfo *a) {
  char *buf = a->absoluteFilePrefix;
  const size_t cap = sizeof a->absoluteFilePrefix;
  if (a->opt_p) {
    if (strlen(a->filePrefix) >= cap) {
      fs_trace("File name prefix is too long (%d characters at most).\n", MWA_PATH_MAX);
      return 0;
    }
    strcpy(buf, a->filePrefix);
    return 1;
  }
  MwaErrorInfo e;
  MwaErrorInfo_clear(&e);
  if (!mwa_sysinit(&e)) {
    fs_trace("Failed to retrieve TaLV Agent install directory (op=%s, err=%d).\n", e.op, e.err);
    return 0;
  }
  snprintf(buf, cap, "%s", mwa_getinstalldir());
  if (!mwa_joinpath(buf, cap, "msgs") || !mwa_joinpath(buf, cap, a->filePrefix)) {
    fs_trace("File name prefix is too long (%d characters at most).\n", MWA_PATH_MAX);
    return 0;
  }
  // Either separator may be written; the system's own is used.
  const char other = pl_path_sep == '\\' ? '/' : '\\';
  for (char *c = buf; *c; ++c)
    if (*c == other)
      *c = pl_path_sep;
  return 1;
}

// Copies fmt into out (OUTPUT_MAX characters and a terminator), each
// "{d}" replaced by parameter d or by nothing when there is none.
void fs_fill(const char *fmt, char *const *params, int count, char *out) {
  size_t n = 0;
  auto put = [&](const char *s, size_t len) {
    for (size_t i = 0; i < len && n < OUTPUT_MAX; ++i)
      out[n++] = s[i];
  };
  enum { PLAIN, BRACE, DIGIT } state = PLAIN;
  char held[2];
  for (const char *p = fmt;; ++p) {
    char c = *p;
    switch (state) {
    case PLAIN:
      if (c == '{') {
        held[0] = c;
        state = BRACE;
      } else if (c) {
        put(&c, 1);
      }
      break;
    case BRACE:
      if (c >= '0' && c <= '9') {
        held[1] = c;
        state = DIGIT;
      } else {
        put(held, 1);
        if (c)
          put(&c, 1);
        state = PLAIN;
      }
      break;
    case DIGIT:
      if (c == '}') {
        int d = held[1] - '0';
        if (d < count)
          put(params[d], strlen(params[d]));
      } else {
        put(held, 2);
        if (c)
          put(&c, 1);
      }
      state = PLAIN;
      break;
    }
    if (!c)
      break;
  }
  out[n] = '\0';
}

} // namespace

int main(int argc, char **argv) {
  setlocale(LC_ALL, "");
  ArgInfo *a = static_cast<ArgInfo *>(calloc(1, sizeof(ArgInfo)));
  if (!a)
    return 1;
  int ok = fs_parse(a, argc, argv);
  fs_tracing = a->opt_v || mwa_isdebug();
  fs_dump(a);
  if (!ok || a->opt_h) {
    fputs(fs_usage, stderr);
    free(a);
    return 1;
  }
  FILE *out = a->opt_e ? stderr : stdout;
  int status = 1;
  if (fs_buildPrefix(a)) {
    fs_trace("Absolute file name prefix = %s\n", a->absoluteFilePrefix);
    MwaMsgBundle *b = MwaMsgBundle_new();
    MwaErrorInfo e;
    MwaErrorInfo_clear(&e);
    if (!b) {
      fs_trace("Failed to initialize MwaMsgBundle (op=%s, err=%d)\n", "malloc", -1);
    } else if (!MwaMsgBundle_init(b, a->absoluteFilePrefix, &e)) {
      fs_trace("Message file to be read = %s\n", fs_text(MwaMsgBundle_getFilename(b)));
      fs_trace("Failed to initialize MwaMsgBundle (op=%s, err=%d)\n", e.op, e.err);
    } else {
      fs_trace("Message file to be read = %s\n", fs_text(MwaMsgBundle_getFilename(b)));
      MwaErrorInfo_clear(&e);
      const char *fmt = MwaMsgBundle_getMessage(b, a->resourceID, nullptr, &e);
      if (!fmt) {
        fs_trace("Failed to get message (op=%s, err=%d)\n", e.op, e.err);
      } else {
        fs_trace("format=%s\n", fmt);
        static char text[OUTPUT_MAX + 1];
        fs_fill(fmt, a->parameterList, a->parameters, text);
        fprintf(out, "%s\n", text);
        status = 0;
      }
    }
    if (b)
      MwaMsgBundle_free(b);
  }
  if (status && a->defaultString)
    fprintf(out, "%s\n", a->defaultString);
  free(a);
  return status;
}
