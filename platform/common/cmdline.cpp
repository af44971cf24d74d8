// Splitting a command line as the Windows C runtime does: portable, so
// both backends (and tests) share it.
#include "platform/proc.h"

std::vector<std::string> pl_split_command_line(const char *cmdline) {
  std::vector<std::string> args;
  const char *p = cmdline;
  for (;;) {
    while (*p == ' ' || *p == '\t')
      ++p;
    if (!*p)
      break;
    std::string arg;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      size_t slashes = 0;
      while (*p == '\\') {
        ++slashes;
        ++p;
      }
      if (*p == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else if (quoted && p[1] == '"') {
          arg += '"'; // "" inside quotes is a literal quote
          ++p;
        } else {
          quoted = !quoted;
        }
        ++p;
      } else {
        arg.append(slashes, '\\');
        if (*p && (quoted || (*p != ' ' && *p != '\t')))
          arg += *p++;
      }
    }
    args.push_back(arg);
  }
  return args;
}

