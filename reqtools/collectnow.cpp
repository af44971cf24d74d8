#include "collectnow.h"

#include <cstdio>
#include <cstring>

#include "reqchannel.h"

bool cn_tool_option(void *ctx, int, char **argv, int *i, bool *) {
  CnSettings *s = static_cast<CnSettings *>(ctx);
  if (strcmp(argv[*i], "-v") == 0)
    s->verbose = true;
  else if (strcmp(argv[*i], "-s") == 0)
    s->s_line = true;
  else
    return false;
  return true;
}

std::vector<std::string> cn_request_lines(const CnSettings &s) {
  std::vector<std::string> lines;
  if (s.verbose)
    lines.push_back("-v\n");
  if (s.s_line)
    lines.push_back("-s\n");
  return lines;
}

int cn_main(int argc, char **argv) {
  CnSettings settings = {false, false};
  static RcChannel ch; // the interruption handler reaches it
  return rc_run_tool(&ch, &rc_profiles[RC_COLLECTNOW], argc, argv, cn_tool_option, &settings,
                     [](const void *ctx) { return cn_request_lines(*static_cast<const CnSettings *>(ctx)); });
}
