// proc_probe: a child for the process tests.
//   proc_probe exit N          ends with status N
//   proc_probe tree D DIR      writes DIR/pid_D with its process id, starts
//                              "proc_probe tree D-1 DIR" while D > 0, and
//                              then waits a minute
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/proc.h"
#include "platform/procinfo.h"

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "exit") == 0)
    return atoi(argv[2]);
  if (argc == 4 && strcmp(argv[1], "tree") == 0) {
    int depth = atoi(argv[2]);
    std::string dir = argv[3];
    if (depth > 0) {
      char self[1024];
      if (pl_self_dir(self, sizeof self) != 0)
        return 2;
      std::string cmd = "\"" + std::string(self) + pl_path_sep + "proc_probe" + pl_exe_suffix + "\" tree " +
                        std::to_string(depth - 1) + " \"" + dir + "\"";
      PlProcInfo child;
      if (pl_proc_start(cmd.c_str(), &child) != 0)
        return 3;
    }
    std::string file = dir + pl_path_sep + "pid_" + std::to_string(depth);
    FILE *fp = pl_file_open((file + ".tmp").c_str(), "w", 0, nullptr);
    if (!fp)
      return 4;
    fprintf(fp, "%lu\n", pl_getpid());
    fclose(fp);
    // Appears whole: written first under another name.
    if (rename((file + ".tmp").c_str(), file.c_str()) != 0)
      return 5;
    pl_sleep_ms(60000);
    return 0;
  }
  fprintf(stderr, "usage: proc_probe exit N | tree D DIR\n");
  return 64;
}
