#include "objtally.h"

#include <cstdio>
#include <cstring>

#include "reqchannel.h"

namespace {

struct Flag {
  const char *on, *off; // off: null when there is no such option
  bool OtSettings::*field;
};

const Flag fs_flags[] = {
    {"-instance", "-noinstance", &OtSettings::instance},
    {"-static", "-nostatic", &OtSettings::statics},
    {"-perm", "-noperm", &OtSettings::perm},
    {"-withnotclassobject", "-nowithnotclassobject", &OtSettings::withnotclassobject},
    {"-withstaticmember", "-nowithstaticmember", &OtSettings::withstaticmember},
    {"-staticcountinstanceonly", nullptr, &OtSettings::staticcountinstanceonly},
    {"-collectfinalizer", "-nocollectfinalizer", &OtSettings::collectfinalizer},
};

} // namespace

bool ot_tool_option(void *ctx, int argc, char **argv, int *i, bool *bad) {
  OtSettings *s = static_cast<OtSettings *>(ctx);
  const char *arg = argv[*i];
  for (const Flag &f : fs_flags) {
    if (strcmp(arg, f.on) == 0) {
      s->*f.field = true;
      return true;
    }
    if (f.off && strcmp(arg, f.off) == 0) {
      s->*f.field = false;
      return true;
    }
  }
  if (strcmp(arg, "-class") == 0) {
    // The name is not consumed: it is met again as a plain argument.
    if (*i + 1 >= argc || argv[*i + 1][0] == '-' || s->klass) {
      *bad = true;
      return true;
    }
    s->klass = true;
    s->class_name = argv[*i + 1];
    return true;
  }
  return false;
}

std::vector<std::string> ot_request_lines(const OtSettings &s) {
  std::vector<std::string> lines;
  auto put = [&lines](bool on, const char *text) {
    if (on)
      lines.push_back(std::string(text) + "\n");
  };
  put(s.instance, "-instance");
  put(s.statics, "-static");
  put(s.perm, "-perm");
  if (s.klass)
    lines.push_back("-class" + s.class_name + "\n\n");
  put(s.withnotclassobject, "-withnotclassobject");
  put(s.withstaticmember, "-withstaticmember");
  put(s.staticcountinstanceonly, "-staticcountinstanceonly");
  put(s.collectfinalizer, "-collectfinalizer");
  return lines;
}

int ot_main(int argc, char **argv) {
  OtSettings settings;
  static RcChannel ch; // the interruption handler reaches it
  return rc_run_tool(&ch, &rc_profiles[RC_OBJTALLY], argc, argv, ot_tool_option, &settings,
                     [](const void *ctx) { return ot_request_lines(*static_cast<const OtSettings *>(ctx)); });
}
