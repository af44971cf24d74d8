// heapdump_write: writes a heap dump file.
//   heapdump_write DESCRIPTION OUT          from a text description
//   heapdump_write -synthetic N DUMPNUM OUT a synthetic heap of N objects
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "heapdump.h"

int main(int argc, char **argv) {
  HdWriter w;
  const char *out;
  if (argc == 5 && strcmp(argv[1], "-synthetic") == 0) {
    HdSynthetic s;
    s.objects = static_cast<uint32_t>(strtoul(argv[2], nullptr, 10));
    s.classes = s.objects / 1000 + 10;
    s.dump_number = atoi(argv[3]);
    s.growth = s.objects / 100 + 1;
    hd_synthetic(s, &w);
    out = argv[4];
  } else if (argc == 3) {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      fprintf(stderr, "heapdump_write: cannot read %s\n", argv[1]);
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string err;
    if (!hd_from_text(text.str(), &w, &err)) {
      fprintf(stderr, "heapdump_write: %s: %s\n", argv[1], err.c_str());
      return 1;
    }
    out = argv[2];
  } else {
    fprintf(stderr, "usage: heapdump_write DESCRIPTION OUT | -synthetic N DUMPNUM OUT\n");
    return 2;
  }
  if (!hd_save(w, out)) {
    fprintf(stderr, "heapdump_write: cannot write %s\n", out);
    return 1;
  }
  return 0;
}
