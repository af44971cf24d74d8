#include "testkit.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/child.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/net.h"
#include "platform/procinfo.h"
#include "platform/registry.h"

std::string tk_bin(const char *name) {
  char dir[1024];
  if (pl_self_dir(dir, sizeof dir) != 0)
    return name;
  return std::string(dir) + pl_path_sep + name + pl_exe_suffix;
}

std::string TkScratch::sep() { return std::string(1, pl_path_sep); }

TkScratch::TkScratch() {
  static std::atomic<int> counter{0};
  char tmp[1024];
  int n = pl_temp_dir(tmp, sizeof tmp);
  std::string base = n > 0 && n < static_cast<int>(sizeof tmp) ? tmp : "";
  for (;;) {
    dir = base + "tovxt_" + std::to_string(pl_getpid()) + "_" + std::to_string(counter++);
    if (pl_dir_create(dir.c_str()) == 0)
      break;
  }
}

TkScratch::~TkScratch() {
  std::vector<std::string> names;
  if (pl_dir_list(dir.c_str(), &names) == 0)
    for (const std::string &n : names) {
      std::string p = path(n);
      pl_file_clear_readonly(p.c_str());
      if (pl_file_delete(p.c_str()) != 0)
        pl_dir_remove(p.c_str());
    }
  pl_dir_remove(dir.c_str());
}

std::vector<std::string> TkScratch::temp_env() const {
  return {"TMPDIR=" + dir, "TMP=" + dir, "TEMP=" + dir};
}

namespace {
std::string fs_readMode(const std::string &path, const char *mode, bool *found) {
  std::string out;
  FILE *fp = pl_file_open(path.c_str(), mode, 0, nullptr);
  if (found)
    *found = fp != nullptr;
  if (!fp)
    return out;
  char buf[4096];
  size_t k;
  while ((k = fread(buf, 1, sizeof buf, fp)) > 0)
    out.append(buf, k);
  fclose(fp);
  return out;
}
} // namespace

std::string tk_read(const std::string &path, bool *found) { return fs_readMode(path, "rb", found); }

std::string tk_read_text(const std::string &path) { return fs_readMode(path, "r", nullptr); }

bool tk_write(const std::string &path, const std::string &content) {
  FILE *fp = pl_file_open(path.c_str(), "wb", 0, nullptr);
  if (!fp)
    return false;
  bool ok = fwrite(content.data(), 1, content.size(), fp) == content.size();
  return fclose(fp) == 0 && ok;
}

bool tk_exists(const std::string &path) { return pl_file_exists(path.c_str()) == 1; }

bool tk_wait_file(const std::string &path, int timeout_ms) {
  uint64_t start = pl_monotonic_ms();
  while (!tk_exists(path)) {
    if (pl_monotonic_ms() - start > static_cast<uint64_t>(timeout_ms))
      return false;
    pl_sleep_ms(20);
  }
  return true;
}

std::string tk_args_text(const std::vector<std::string> &args) {
  std::string out;
  for (const std::string &a : args)
    out += "[" + a.substr(0, 40) + "]";
  return out;
}

std::vector<char *> tk_argv(std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return argv;
}

unsigned long tk_fake_pid() {
  // Far above the ids this machine hands out; random, since process ids
  // (and so anything derived from them) come back quickly under wine.
  static std::mt19937 gen(std::random_device{}() ^ static_cast<unsigned>(pl_monotonic_ms()) ^
                          static_cast<unsigned>(pl_getpid() * 2654435761UL));
  return 1000000000UL + gen() % 1000000000UL;
}

bool tk_start(TkRun *run, const TkScratch &s, const std::vector<std::string> &argv,
              const std::string &input, const std::vector<std::string> &env) {
  static std::atomic<int> counter{0};
  std::string tag = std::to_string(counter++);
  std::string in_path = s.path("stdin_" + tag);
  run->out_path = s.path("stdout_" + tag);
  run->err_path = s.path("stderr_" + tag);
  tk_write(in_path, input);
  std::vector<const char *> av, ev;
  for (const std::string &a : argv)
    av.push_back(a.c_str());
  av.push_back(nullptr);
  for (const std::string &e : env)
    ev.push_back(e.c_str());
  ev.push_back(nullptr);
  PlChildSpec spec = {av.data(), in_path.c_str(), run->out_path.c_str(), run->err_path.c_str(),
                      ev.data()};
  // Under wine a start now and then fails when tests run side by side;
  // a second try goes through.
  int rc = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    rc = pl_child_start(&spec, &run->child);
    if (rc == 0)
      break;
    fprintf(stderr, "testkit: cannot start %s (errno %d)%s\n", av[0], rc, attempt < 4 ? ", trying again" : "");
    pl_sleep_ms(200);
  }
  return rc == 0;
}

TkResult tk_finish(TkRun *run, int timeout_ms) {
  TkResult r;
  if (!run->child)
    return r;
  int code = -1;
  if (pl_child_wait(run->child, timeout_ms, &code) != 1) {
    pl_child_kill(run->child);
    pl_child_wait(run->child, -1, nullptr);
    code = -1;
  }
  pl_child_free(run->child);
  run->child = nullptr;
  r.code = code;
  r.out = tk_read_text(run->out_path);
  r.err = tk_read_text(run->err_path);
  return r;
}

TkResult tk_run(const TkScratch &s, const std::vector<std::string> &argv, const std::string &input,
                const std::vector<std::string> &env, int timeout_ms) {
  TkRun run;
  if (!tk_start(&run, s, argv, input, env))
    return TkResult();
  return tk_finish(&run, timeout_ms);
}

std::vector<std::string> TkPeer::seen(const char *kind) const {
  std::vector<std::string> out;
  std::string text = tk_read(log);
  size_t pos = 0;
  size_t klen = strlen(kind);
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, klen, kind) != 0 || line.size() < klen + 1 || line[klen] != ' ')
      continue;
    std::string bytes;
    for (size_t i = klen + 1; i + 1 < line.size(); i += 2)
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    out.push_back(bytes);
  }
  return out;
}

bool tk_start_peer(TkPeer *peer, const TkScratch &s, unsigned long pid, const char *mode,
                   int delay_ms, int max) {
  static std::atomic<int> counter{0};
  std::string tag = std::to_string(counter++);
  peer->log = s.path("peerlog_" + tag);
  std::string ready = s.path("peerready_" + tag);
  std::vector<std::string> argv = {tk_bin("jvmpeer"), "--pid", std::to_string(pid), "--mode", mode,
                                   "--delay-ms", std::to_string(delay_ms), "--log", peer->log,
                                   "--ready", ready, "--max", std::to_string(max),
                                   "--idle-ms", "60000"};
  if (!tk_start(&peer->run, s, argv, "", {}))
    return false;
  if (tk_wait_file(ready, 20000))
    return true;
  TkResult r = tk_finish(&peer->run, 1000);
  fprintf(stderr, "testkit: the peer did not start (status %d): %s\n", r.code, r.err.c_str());
  return false;
}

void tk_stop_peer(TkPeer *peer) {
  if (peer->run.child) {
    pl_child_kill(peer->run.child);
    tk_finish(&peer->run, 5000);
  }
}

int tk_free_port() {
  pl_net_startup();
  PlSocket p = pl_socket_tcp(PL_AF_INET);
  PlSockAddr a;
  pl_sockaddr_loopback4(&a, 0);
  pl_bind(p, &a);
  int port = pl_sock_port(p);
  pl_closesocket(p);
  return port;
}

std::string tk_request(int port, const std::string &body) {
  pl_net_startup();
  PlSockAddr a;
  pl_sockaddr_loopback4(&a, port);
  PlSocket c = PL_INVALID_SOCKET;
  for (int i = 0; i < 200; ++i) {
    c = pl_socket_tcp(PL_AF_INET);
    if (pl_connect(c, &a) == 0)
      break;
    pl_closesocket(c);
    c = PL_INVALID_SOCKET;
    pl_sleep_ms(50);
  }
  std::string reply;
  if (c == PL_INVALID_SOCKET)
    return reply;
  std::string msg = "POST /service/Control HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  pl_send(c, msg.data(), msg.size());
  char buf[4096];
  long n;
  while ((n = pl_recv(c, buf, sizeof buf)) > 0)
    reply.append(buf, static_cast<size_t>(n));
  pl_closesocket(c);
  return reply;
}

namespace {
const char fs_productKey[] = "SOFTWARE\\ZENTRAK\\TovexAgent\\1\\PathName";
}

TkInstall::TkInstall() {
  env = {"TOVX_REGISTRY=" + s.path("registry")};
  pl_setenv("TOVX_REGISTRY", s.path("registry").c_str());
  mkdirs({"bin", "bin/logs", "etc", "msgs", "agent", "agent/bin", "agent/config"});
  tk_write(at("etc/amc_version.properties"),
           "version.marketing=7.0\nversion.technical=07-00\nversion.product=07-10\nversion.build=ABCDEFGH\n");
  PlHkey k;
  if (pl_reg_create(pl_reg_root(PL_HKLM), fs_productKey, PL_REG_ALL, &k) == 0) {
    pl_reg_set_value(k, "Path00", PL_REG_SZ, s.dir.c_str(), static_cast<uint32_t>(s.dir.size() + 1));
    pl_reg_close(k);
  }
}

TkInstall::~TkInstall() { remove_key(); }

void TkInstall::remove_key() const {
  PlHkey root = pl_reg_root(PL_HKLM);
  pl_reg_delete_key(root, fs_productKey, 0);
  pl_reg_delete_key(root, "SOFTWARE\\ZENTRAK\\TovexAgent\\1", 0);
  pl_reg_delete_key(root, "SOFTWARE\\ZENTRAK\\TovexAgent", 0);
}

std::string TkInstall::at(const std::string &rel) const {
  std::string out = s.dir + pl_path_sep;
  for (char c : rel)
    out += c == '/' ? pl_path_sep : c;
  return out;
}

bool TkInstall::mkdirs(std::initializer_list<const char *> dirs) const {
  bool ok = true;
  for (const char *d : dirs)
    ok = pl_dir_create(at(d).c_str()) == 0 && ok;
  return ok;
}

bool TkInstall::script(const std::string &rel, const std::string &posix, const std::string &windows) const {
  std::string path = at(rel) + pl_script_suffix;
  bool sh = std::string(pl_script_suffix) == ".sh";
  return tk_write(path, sh ? "#!/bin/sh\n" + posix : windows) && pl_file_set_executable(path.c_str()) == 0;
}

bool TkInstall::install_scripted_agent(int *agent_port, int *http_port) const {
  *agent_port = tk_free_port();
  *http_port = tk_free_port();
  std::string agent = tk_bin("scripted_agent");
  return tk_write(at("agent/config/server.properties"),
                  "server.agent.port=" + std::to_string(*agent_port) + "\nserver.http.port=" +
                      std::to_string(*http_port) + "\nserver.http.localPort=" + std::to_string(tk_free_port()) +
                      "\n") &&
         mkdirs({"etc/currentprops"}) &&
         script("agent/bin/Server", "exec '" + agent + "' \"$@\"\n", "@\"" + agent + "\" %*\r\n");
}
