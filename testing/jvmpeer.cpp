// jvmpeer: stands for the JVM side of the request channel in tests and
// the demo. It owns the mailslot of a process id, reads wake-up
// messages, and answers (or not) the request file each one names.
//
//   jvmpeer [--pid N] [--mode answer|nodump|never|delete|empty]
//           [--delay-ms D] [--log FILE] [--ready FILE] [--max K] [--idle-ms T]
//
// A heap dump request (HDP) while the heap dump mode file exists: with
// the stop marker (count -1) the peer ends heap dump mode by deleting the
// file; when the file asks for a dump it writes one (a small synthetic
// heap whose leaking classes grow from dump to dump; level 3 as a
// summary type dump) and raises the count, unless the mode is nodump.
// Either way it then answers.
//
// --log records every message and request file seen, one per line:
// "msg <hex>" and "req <hex>" (the bytes as they were, in hex).
// --ready is created once the mailslot exists. The peer ends after K
// messages (default 1) or T ms without one (default 30000).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/mailslot.h"
#include "heapdump.h"
#include "platform/procinfo.h"
#include "testkit.h"

namespace {

struct PeerArgs {
  unsigned long pid = pl_getpid();
  std::string mode = "answer";
  unsigned delay_ms = 0;
  const char *log = nullptr;
  const char *ready = nullptr;
  int max = 1;
  unsigned idle_ms = 30000;
};

void fs_logHex(const char *log, const char *kind, const std::string &bytes) {
  if (!log)
    return;
  FILE *fp = pl_file_open(log, "ab", 0, nullptr);
  if (!fp)
    return;
  fprintf(fp, "%s ", kind);
  for (unsigned char c : bytes)
    fprintf(fp, "%02x", c);
  fprintf(fp, "\n");
  fclose(fp);
}

const char *fs_requestBase(const std::string &tag) {
  if (tag == "HDP")
    return ".memsnap_req_";
  if (tag == "GC")
    return ".collectnow_req_";
  if (tag == "TOI")
    return ".objtally_req_";
  return nullptr;
}

int32_t fs_int(const std::string &b, size_t at) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
                              static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                              static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}

// The heap dump mode of an HDP request.
void fs_heapDumpMode(const PeerArgs &a, const std::string &dir) {
  std::string path = dir + ".heapdump_mode." + std::to_string(a.pid);
  bool found;
  std::string m = tk_read(path, &found);
  if (!found || m.size() < 25)
    return;
  int32_t count = fs_int(m, 1), level = fs_int(m, 9), len = fs_int(m, 21);
  if (count == -1) {
    pl_file_delete(path.c_str());
    return;
  }
  if (m[0] != 1 || a.mode == "nodump" || len < 0 || m.size() < 25u + static_cast<size_t>(len))
    return;
  std::string base = m.substr(25, static_cast<size_t>(len));
  HdSynthetic syn;
  syn.objects = 300;
  syn.classes = 20;
  syn.growing_classes = 2;
  syn.growth = 30;
  syn.dump_number = count + 1;
  syn.level = level == 3 ? 3 : 0;
  HdWriter w;
  hd_synthetic(syn, &w);
  hd_save(w, base + "." + std::to_string(count + 1) + ".bin");
  int32_t next = count + 1;
  m[0] = 0;
  for (int i = 0; i < 4; ++i)
    m[1 + static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(next) >> (8 * i)) & 0xff);
  tk_write(path, m);
}

void fs_handle(const PeerArgs &a, const std::string &msg) {
  // "send SIGBREAK <tag>::<dir>" followed by a zero byte.
  const char prefix[] = "send SIGBREAK ";
  std::string text(msg.c_str()); // up to the zero byte
  if (text.compare(0, sizeof prefix - 1, prefix) != 0)
    return;
  size_t sep = text.find("::");
  if (sep == std::string::npos)
    return;
  std::string tag = text.substr(sizeof prefix - 1, sep - (sizeof prefix - 1));
  std::string dir = text.substr(sep + 2);
  const char *base = fs_requestBase(tag);
  if (!base)
    return;
  std::string req = dir + base + std::to_string(a.pid);
  bool found;
  std::string content = tk_read(req, &found);
  if (found)
    fs_logHex(a.log, "req", content);
  if (a.delay_ms)
    pl_sleep_ms(a.delay_ms);
  if (tag == "HDP")
    fs_heapDumpMode(a, dir);
  if (a.mode == "answer" || a.mode == "nodump") {
    FILE *fp = pl_file_open(req.c_str(), "w", 0, nullptr);
    if (fp) {
      fputs("0\n", fp);
      fclose(fp);
    }
  } else if (a.mode == "delete") {
    pl_file_delete(req.c_str());
  } else if (a.mode == "empty") {
    FILE *fp = pl_file_open(req.c_str(), "w", 0, nullptr);
    if (fp)
      fclose(fp);
  }
}

} // namespace

int main(int argc, char **argv) {
  PeerArgs a;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i];
    const char *v = argv[i + 1];
    if (k == "--pid")
      a.pid = strtoul(v, nullptr, 10);
    else if (k == "--mode")
      a.mode = v;
    else if (k == "--delay-ms")
      a.delay_ms = static_cast<unsigned>(strtoul(v, nullptr, 10));
    else if (k == "--log")
      a.log = v;
    else if (k == "--ready")
      a.ready = v;
    else if (k == "--max")
      a.max = atoi(v);
    else if (k == "--idle-ms")
      a.idle_ms = static_cast<unsigned>(strtoul(v, nullptr, 10));
    else {
      fprintf(stderr, "jvmpeer: unknown option %s\n", k.c_str());
      return 64;
    }
  }
  char name[64];
  snprintf(name, sizeof name, "\\\\.\\mailslot\\Zentrak\\Tarno\\JDK\\pid%lu", a.pid);
  PlMailslot *slot = nullptr;
  int e = pl_mailslot_create(name, &slot);
  if (e) {
    fprintf(stderr, "jvmpeer: cannot create %s (errno %d)\n", name, e);
    return 1;
  }
  if (a.ready)
    pl_file_create_new(a.ready);
  fprintf(stderr, "jvmpeer: serving pid %lu\n", a.pid);
  int handled = 0;
  while (handled < a.max) {
    char buf[65536];
    size_t got = 0;
    int r = pl_mailslot_read(slot, buf, sizeof buf, static_cast<int>(a.idle_ms), &got, &e);
    if (r <= 0)
      break;
    std::string msg(buf, got);
    fs_logHex(a.log, "msg", msg);
    fs_handle(a, msg);
    ++handled;
  }
  pl_mailslot_close(slot);
  return 0;
}
