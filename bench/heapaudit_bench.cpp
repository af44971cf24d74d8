// heapaudit over synthetic series of three dumps: reading and summaries
// alone, then with the components and the TOTAL detection, then the whole
// run memsnap starts (-detectk auto -detail): seconds, peak resident
// memory, and objects per second of each reading pass.
//   heapaudit_bench [N ...]     objects of the first dump (default 1000000 4000000)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "heapdump.h"
#include "platform/clock.h"
#include "platform/memstat.h"
#include "testkit.h"

namespace {

// The seconds of each "[label x seconds]" of the verbose output, in order.
std::vector<std::pair<std::string, double>> fs_timers(const std::string &err) {
  std::vector<std::pair<std::string, double>> out;
  std::vector<std::string> open;
  for (size_t i = 0; i < err.size(); ++i) {
    if (err[i] == '[') {
      size_t sp = err.find(' ', i);
      size_t nl = err.find('\n', i);
      if (sp != std::string::npos && (nl == std::string::npos || sp < nl) && err.compare(i, 2, "[S") != 0) {
        std::string label = err.substr(i + 1, sp - i - 1);
        // Two-word labels.
        if (label == "data" || label == "setUpperObjects") {
          size_t sp2 = err.find(' ', sp + 1);
          label = err.substr(i + 1, sp2 - i - 1);
          if (err.compare(sp2 + 1, 7, "(dummy)") == 0) {
            label += " (dummy)";
            sp2 += 8;
          }
          i = sp2;
        } else {
          i = sp;
        }
        open.push_back(label);
      }
      continue;
    }
    char *end = nullptr;
    if ((err[i] >= '0' && err[i] <= '9') && !open.empty()) {
      double v = strtod(err.c_str() + i, &end);
      if (end && std::string(end).compare(0, 9, " seconds]") == 0) {
        out.push_back({open.back(), v});
        open.pop_back();
        i = static_cast<size_t>(end - err.c_str()) + 8;
      }
    }
  }
  return out;
}

} // namespace

double fs_sum(const std::vector<std::pair<std::string, double>> &t, const char *label) {
  double v = 0;
  for (auto &x : t)
    if (x.first == label)
      v += x.second;
  return v;
}

int main(int argc, char **argv) {
  std::vector<uint32_t> sizes;
  for (int i = 1; i < argc; ++i)
    sizes.push_back(static_cast<uint32_t>(strtoul(argv[i], nullptr, 10)));
  if (sizes.empty())
    sizes = {1000000, 4000000};
  printf("| objects, first dump | objects, all dumps | first pass Mobj/s | second pass Mobj/s | read+summary s | "
         "+components, TOTAL s | total s | peak MiB | bytes/object | auto -detail s | peak MiB | bytes/object |\n");
  printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (uint32_t n : sizes) {
    TkScratch s;
    std::vector<std::string> files;
    uint64_t all = 0;
    for (int k = 1; k <= 3; ++k) {
      HdSynthetic syn;
      syn.objects = n;
      syn.classes = 3000;
      syn.growing_classes = 5;
      syn.growth = n / 200;
      syn.dump_number = k;
      HdWriter w;
      hd_synthetic(syn, &w);
      files.push_back(s.path("dump" + std::to_string(k)));
      hd_save(w, files.back());
      all += n + syn.growing_classes * syn.growth * static_cast<uint32_t>(k - 1) + syn.classes;
    }
    // Reading and summaries alone, then with the component search.
    std::vector<std::string> base = {tk_bin("heapaudit"), "-verbose", "-datanum", "3"};
    base.insert(base.end(), files.begin(), files.end());
    std::vector<std::string> full = {tk_bin("heapaudit"), "-verbose", "-detectk", "total", "-datanum", "3"};
    full.insert(full.end(), files.begin(), files.end());
    TkResult a = tk_run(s, base, "", {}, 3600000);
    TkResult b = tk_run(s, full, "", {}, 3600000);
    if (a.code != 0 || b.code != 0) {
      fprintf(stderr, "heapaudit failed (%d, %d): %s%s\n", a.code, b.code, a.err.c_str(), b.err.c_str());
      return 1;
    }
    auto ta = fs_timers(a.err), tb = fs_timers(b.err);
    double first = fs_sum(tb, "data read (dummy)"), second = fs_sum(tb, "data read");
    double readSummary = fs_sum(ta, "Heapauditor"), total = fs_sum(tb, "Heapauditor");
    long peak = pl_children_peak_rss_kb();
    // The whole run as memsnap starts it.
    std::vector<std::string> whole = {tk_bin("heapaudit"), "-verbose", "-detectk", "auto", "-detail", "-datanum", "3",
                                      "-o", s.path("result.txt")};
    whole.insert(whole.end(), files.begin(), files.end());
    TkResult c = tk_run(s, whole, "", {}, 3600000);
    if (c.code != 0) {
      fprintf(stderr, "heapaudit -detectk auto failed (%d): %s\n", c.code, c.err.c_str());
      return 1;
    }
    double detect = fs_sum(fs_timers(c.err), "Heapauditor");
    long peakAll = pl_children_peak_rss_kb();
    printf("| %u | %llu | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f | %.1f | %.2f | %.0f | %.1f |\n", n,
           static_cast<unsigned long long>(all), all / 1e6 / first, all / 1e6 / second, readSummary,
           total - readSummary, total, peak / 1024.0, peak * 1024.0 / static_cast<double>(all), detect,
           peakAll / 1024.0, peakAll * 1024.0 / static_cast<double>(all));
    fflush(stdout);
  }
  return 0;
}
