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
  const RcProfile *prof = &rc_profiles[RC_COLLECTNOW];
  CnSettings settings = {false, false};
  static RcChannel ch; // the interruption handler reaches it
  rc_init(&ch, prof, 0);
  int rc = rc_install_handlers(&ch);
  if (rc >= 0)
    return rc;

  RcOptions opts;
  std::string msgs;
  rc = rc_parse_options(prof, argc, argv, cn_tool_option, &settings, &opts, &msgs);
  fputs(msgs.c_str(), stderr);
  if (rc >= 0)
    return rc;
  if (!opts.force && !rc_confirm(prof, stdin, stderr))
    return 1;

  ch.pid = opts.pid;
  if ((rc = rc_prepare(&ch)) >= 0)
    return rc;
  rc = rc_exchange(&ch, opts.limit, cn_request_lines(settings));
  return rc >= 0 ? rc : 0;
}
