// heapaudit: reads a series of heap dumps and reports what grows.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "classSizeInfo.h"
#include "heapAudit.h"
#include "heapDumpData.h"
#include "platform/procinfo.h"
#include "strongComponent.h"
#include "utils.h"

namespace {

enum OptKind { FLAG, INTEGER, TEXT, DETECT };

struct Settings {
  bool help = false;
  const char *detect_text = nullptr;
  bool detail = false;
  int data_num = 1;
  bool only_class = false;
  bool toi = false;
  bool call_trace = false;
  bool check = false;
  int detect_kind = 0;
  bool auto_detect = false;
};
Settings fs_s;
int fs_silence;
bool fs_verbose;
const char *fs_output;

struct Option {
  const char *text;
  const char *env;
  OptKind kind;
  void *setting;
  const char *help;
};

const Option fs_options[] = {
    {"-help", "MEMLEAK_HELP", FLAG, &fs_s.help, "opt.: -help      / env.: MEMLEAK_HELP          :: display help message."},
    {"-silence", "MEMLEAK_SILENCE", INTEGER, &fs_silence,
     "opt.: -silence   / env.: MEMLEAK_SILENCE       :: specify silence level (smaller, more quiet)."},
    {"-o", "MEMLEAK_OUTPUT", TEXT, &fs_output, "opt.: -o         / env.: MEMLEAK_OUTPUT        :: result output filename"},
    {"-detectk", "MEMLEAK_DETECTK", DETECT, &fs_s.detect_text,
     "opt.: -detectk   / env.: MEMLEAK_DETECTK       :: detection method of memory leak.(auto/class/instance)"},
    {"-detail", "MEMLEAK_OUTPUT_DETAIL", FLAG, &fs_s.detail,
     "opt.: -detail    / env.: MEMLEAK_OUTPUT_DETAIL :: output leak detection result in detail."},
    {"-datanum", "MEMLEAK_DATANUM", INTEGER, &fs_s.data_num,
     "opt.: -datanum   / env.: MEMLEAK_DATANUM       :: the number of input data."},
    {"-onlyclass", "MEMLEAK_ONLYCLASS", FLAG, &fs_s.only_class,
     "opt.: -onlyclass / env.: MEMLEAK_ONLYCLASS     :: check objects in permanent region."},
    {"-toi", "MEMLEAK_TOI", FLAG, &fs_s.toi, "opt.: -toi       / env.: MEMLEAK_TOI           :: output total of instance."},
    {"-ct", "MEMLEAK_CALLTRACE", FLAG, &fs_s.call_trace,
     "opt.: -ct        / env.: MEMLEAK_CALLTRACE     :: output calltrace information."},
    {"-check", "MEMLEAK_CHECK", FLAG, &fs_s.check,
     "opt.: -check     / env.: MEMLEAK_CHECK         :: check dump data validity (for memsnap porting)."},
    {"-verbose", "MEMLEAK_VERBOSE", FLAG, &fs_verbose,
     "opt.: -verbose   / env.: MEMLEAK_VERBOSE       :: (for debug information output)"},
};

void fs_usage() {
  fputs("Usage:   heapaudit <options> <dataname>...\n", stderr);
  fputs("options:\n", stderr);
  for (const Option &o : fs_options)
    fprintf(stderr, "%s\n", o.help);
  fputs("\n", stderr);
}

void fs_detect(const char *v) {
  if (strcmp(v, "all") == 0) {
    fs_s.detect_kind |= DETECT_TOTAL | DETECT_DIFF | DETECT_CLASS;
  } else if (strcmp(v, "auto") == 0) {
    fs_s.detect_kind |= DETECT_TOTAL | DETECT_DIFF | DETECT_CLASS;
    fs_s.auto_detect = true;
  } else if (strcmp(v, "total") == 0) {
    fs_s.detect_kind |= DETECT_TOTAL;
  } else if (strcmp(v, "diff") == 0) {
    fs_s.detect_kind |= DETECT_DIFF;
  } else if (strcmp(v, "class") == 0) {
    fs_s.detect_kind |= DETECT_CLASS;
  }
}

void fs_set(const Option &o, const char *value) {
  switch (o.kind) {
  case FLAG:
    *static_cast<bool *>(o.setting) = true;
    break;
  case INTEGER:
    *static_cast<int *>(o.setting) = atoi(value);
    break;
  case TEXT:
  case DETECT:
    *static_cast<const char **>(o.setting) = value;
    break;
  }
}

void fs_environment() {
  static std::vector<std::string> keep;
  keep.reserve(sizeof fs_options / sizeof *fs_options);
  for (const Option &o : fs_options) {
    char buf[4096];
    long n = pl_getenv(o.env, buf, sizeof buf);
    if (n < 0)
      continue;
    keep.emplace_back(buf);
    fs_set(o, keep.back().c_str());
  }
}

std::vector<const char *> fs_names;
bool fs_namesCreated = false;

void fs_commandLine(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const Option *opt = nullptr;
    for (const Option &o : fs_options)
      if (strcmp(argv[i], o.text) == 0)
        opt = &o;
    if (!opt) {
      if (!fs_namesCreated) {
        fs_namesCreated = true;
        fs_names.reserve(static_cast<size_t>(fs_s.data_num > 0 ? fs_s.data_num : 0));
      }
      if (static_cast<int>(fs_names.size()) < fs_s.data_num)
        fs_names.push_back(argv[i]);
      continue;
    }
    if (fs_namesCreated) {
      fs_usage();
      exit(-1);
    }
    if (opt->kind == FLAG) {
      fs_set(*opt, nullptr);
      continue;
    }
    if (i + 1 >= argc) {
      fs_usage();
      abort();
    }
    fs_set(*opt, argv[++i]);
    if (opt->kind == DETECT)
      fs_detect(argv[i]);
  }
}

} // namespace

int main(int argc, char **argv) {
  Utils::startup_guards();
  hex_width = 8;
  id_size = 4;
  word_size = 4;
  Utils::memory_guard();
  fs_environment();
  Utils::silence_level = fs_silence;
  Utils::message(1, "This host is little-endian.\n");
  fs_commandLine(argc, argv);
  Utils::silence_level = fs_silence;
  Utils::verbose = fs_verbose;
  Utils::result_file = fs_output;
  if (fs_s.help || argc < 2) {
    fs_usage();
    return 0;
  }
  if (fs_s.check)
    fs_s.toi = fs_s.call_trace = true;
  // Detection compares dumps: without one to read there is nothing to do.
  if (fs_s.data_num < 1) {
    Utils::message(0, "The number of input data (-datanum %d) must be 1 or more.\n", fs_s.data_num);
    return -1;
  }
  if (fs_names.empty()) {
    fputs("No input data names\n", stderr);
    return 1;
  }

  TimeMeasure all;
  all.start("Heapauditor");
  HeapDumpDataSet set(fs_s.data_num);
  ReadOptions ro;
  ro.detect_kind = fs_s.detect_kind;
  ro.call_trace = fs_s.call_trace;
  for (int i = 1; i <= fs_s.data_num; ++i) {
    Utils::message(1, "\n***** Input Heap Dump Data (%d/%d) *****\n", i, fs_s.data_num);
    read_dump(&set, i - 1, fs_names, ro);
    Utils::memory_guard();
    HeapDumpData *d = set.data[static_cast<size_t>(i - 1)].get();
    set.class_size_info[static_cast<size_t>(i - 1)] = d->format == 1
                                                          ? ClassSizeInfo::build_by_walking(d, fs_s.only_class, fs_s.toi)
                                                          : ClassSizeInfo::build_from_records(d, fs_s.toi);
    Utils::memory_guard();
  }
  Utils::message(1, "..... Data reading is done\n\n");
  std::unique_ptr<StrongComponentSet> components;
  if (fs_s.detect_kind || fs_s.check) {
    HeapDumpData *last = set.data.back().get();
    if (last->data_level == 3) {
      Utils::message(0, "final dump data must be full type dump for memory leak detection.\n");
      return -1;
    }
    components.reset(StrongComponentSet::build(last, fs_s.check));
    Utils::memory_guard();
  }
  if (fs_s.detect_kind && !fs_s.check) {
    DetectOptions d;
    d.detect_kind = fs_s.detect_kind;
    d.auto_detect = fs_s.auto_detect;
    d.detail = fs_s.detail;
    d.only_class = fs_s.only_class;
    detect_leaks(&set, components.get(), d);
  }
  if (fs_s.check)
    Utils::message(1, "\nData check is completed.\n");
  all.stop();
  return 0;
}
