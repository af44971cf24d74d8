// Run-time guards and output of the analyzer: leveled messages, the
// result output, phase timers, the memory-use guard and the handlers for
// interruption and allocation failure.
#pragma once
#include <cstdint>
#include <cstdio>

class Utils {
public:
  static int silence_level;
  static bool verbose;
  static const char *result_file;
  static bool little_endian;

  // On the error stream when level <= silence_level (verbose: also only
  // with the verbose switch).
  static void message(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  static void vmessage(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  // A checked formatted write; a failed one ends the program abnormally.
  static void output2file(FILE *out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  // The result file opened for appending, or standard output.
  static FILE *open_resultfile();
  static void close_resultfile(FILE *out);
  // Ends the program (-1) when more than 90 percent of the machine's
  // physical memory is in use.
  static void memory_guard();
  // The memory load source (tests); null restores the system's.
  static void set_memory_load(int (*load)(uint32_t *percent));
  static void startup_guards();
  // "<source>:<line> Unexpected kind", then an abnormal end.
  [[noreturn]] static void unexpected_kind(const char *source, int line);
  // Ends with status -1 after the message at level 0.
  [[noreturn]] static void fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
};

class TimeMeasure {
public:
  void start(const char *label);
  void stop();

private:
  uint64_t start_count = 0, start_frequency = 0;
};
