// objtally: asks a running JVM for a heap profile.
#pragma once
#include <string>
#include <vector>

struct OtSettings {
  bool instance = true;
  bool statics = true;
  bool perm = true;
  bool klass = false;
  std::string class_name;
  bool withnotclassobject = true;
  bool withstaticmember = false;
  bool staticcountinstanceonly = false;
  bool collectfinalizer = true;
};

// The tool's own options, in the form rc_parse_options calls.
bool ot_tool_option(void *ctx, int argc, char **argv, int *i, bool *bad);
// The option lines of the request, in table order; the class line is
// followed by one empty line.
std::vector<std::string> ot_request_lines(const OtSettings &s);
// The whole run; returns the exit status.
int ot_main(int argc, char **argv);
