// collectnow: asks a running JVM for a garbage collection now.
#pragma once
#include <string>
#include <vector>

struct CnSettings {
  bool verbose; // -v: adds the line -v to the request
  bool s_line;  // -s: adds the line -s to the request
};

// The tool's own options, in the form rc_parse_options calls.
bool cn_tool_option(void *ctx, int argc, char **argv, int *i, bool *bad);
// The option lines of the request, always -v before -s.
std::vector<std::string> cn_request_lines(const CnSettings &s);
// The whole run; returns the exit status.
int cn_main(int argc, char **argv);
