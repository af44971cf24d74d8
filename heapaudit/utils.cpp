#include "utils.h"

#include <cstdarg>
#include <cstdlib>
#include <new>

#include "platform/clock.h"
#include "platform/memstat.h"
#include "platform/signals.h"

int Utils::silence_level = 0;
bool Utils::verbose = false;
const char *Utils::result_file = nullptr;
bool Utils::little_endian = true;

namespace {

int (*fs_memoryLoad)(uint32_t *) = pl_memory_load;

void fs_vprint(const char *fmt, va_list ap) {
  vfprintf(stderr, fmt, ap);
  fflush(stderr);
}

void fs_outOfMemory() {
  fputs("Memory allocation failed\n", stderr);
  exit(-1);
}

void fs_onSignal(int) {
  static const char text[] = "forced exit by signal...\n";
  fputs(text, stderr);
  pl_exit_now(-1);
}

} // namespace

void Utils::message(int level, const char *fmt, ...) {
  if (level > silence_level)
    return;
  va_list ap;
  va_start(ap, fmt);
  fs_vprint(fmt, ap);
  va_end(ap);
}

void Utils::vmessage(int level, const char *fmt, ...) {
  if (!verbose || level > silence_level)
    return;
  va_list ap;
  va_start(ap, fmt);
  fs_vprint(fmt, ap);
  va_end(ap);
}

void Utils::output2file(FILE *out, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vfprintf(out, fmt, ap);
  va_end(ap);
  if (n < 0) {
    fputs("output2file: error\n", stderr);
    abort();
  }
}

FILE *Utils::open_resultfile() {
  if (!result_file)
    return stdout;
  FILE *f = fopen(result_file, "a+");
  if (!f) {
    fputs("Utils::open_resultfile: error\n", stderr);
    abort();
  }
  return f;
}

void Utils::close_resultfile(FILE *out) {
  if (out == stdout) {
    fflush(out);
    return;
  }
  if (fclose(out) != 0) {
    fputs("output2file: error\n", stderr);
    abort();
  }
}

void Utils::set_memory_load(int (*load)(uint32_t *)) { fs_memoryLoad = load ? load : pl_memory_load; }

void Utils::memory_guard() {
  uint32_t load = 0;
  if (fs_memoryLoad(&load) != 0)
    return; // no figure to be had: nothing to guard
  if (load > 90) {
    message(0, "Memory use ratio(%u%%) is more than %d%%. exit...\n", load, 90);
    exit(-1);
  }
}

void Utils::startup_guards() {
  std::set_new_handler(fs_outOfMemory);
  if (pl_on_interrupt(fs_onSignal) != 0) {
    fputs("failed operation assignment to each signal\n", stderr);
    exit(-1);
  }
}

void Utils::unexpected_kind(const char *source, int line) {
  fprintf(stderr, "%s:%d Unexpected kind\n", source, line);
  abort();
}

void Utils::fail(const char *fmt, ...) {
  if (silence_level >= 0) {
    va_list ap;
    va_start(ap, fmt);
    fs_vprint(fmt, ap);
    va_end(ap);
  }
  exit(-1);
}

void TimeMeasure::start(const char *label) {
  uint64_t v = 0, f = 0;
  if (!pl_hires_counter(&v, &f)) {
    fputs("Not supported high-resolution counter\n", stderr);
    abort();
  }
  Utils::vmessage(0, "[%s ", label);
  start_frequency = f;
  pl_hires_counter(&start_count, &start_frequency);
}

void TimeMeasure::stop() {
  uint64_t v = 0, f = 0;
  pl_hires_counter(&v, &f);
  Utils::vmessage(0, "%lf seconds]\n", static_cast<double>(v - start_count) / static_cast<double>(start_frequency));
}
