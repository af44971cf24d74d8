// memsnap: asks a running JVM for heap dumps, keeps a series of them
// together through the heap dump mode file, and runs heapaudit over a
// finished series.
#pragma once
#include <cstdint>
#include <string>

struct MsSettings {
  long pid = -1;
  int level = 1;
  bool level_given = false;
  int interval = 0;
  bool interval_given = false;
  int max = 2;
  int current = 0;
  std::string dir;
  std::string prefix = "heapdump";
  std::string base;
  bool detect = false;
  int kind = 3; // total 0, diff 1, class 2, auto 3
  bool start = false, stop = false, dstop = false, status = false;
  bool remaindump = false, removedump = false, help = false;
  bool manual = false;
  std::string *msgs = nullptr; // where option messages go, in order
};

// The tool's own options, in the form rc_parse_options calls.
bool ms_tool_option(void *ctx, int argc, char **argv, int *i, bool *bad);
// The combination checks: their messages, and whether the run may go on.
bool ms_check_combination(MsSettings *s, std::string *msgs);
// The invalid characters of a dump name prefix, as the message lists them
// ("" when there are none).
std::string ms_invalid_characters(const std::string &prefix);
// The whole run; returns the exit status.
int ms_main(int argc, char **argv);

// The heap dump mode file's layout (little-endian, no padding).
struct MsModeFile {
  uint8_t flag;
  int32_t count;
  int32_t owner;
  int32_t level;
  int32_t interval;
  int32_t max;
  std::string base;
};
enum { MS_NAME_MAX = 258 };
