// daemon_bench: OPEN/CLOSE round trips against tovx_service with the
// scripted agent (always-on, so every OPEN asks the agent for a reset),
// with 1 and 64 concurrent requesters, beside a trivial loopback
// request/reply server as the floor.
//
//   daemon_bench [seconds per run]    (run from the build's bin folder)
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mwa_socket.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/procinfo.h"
#include "testkit.h"

namespace {

// One message on a new connection; the reply, read to the end.
bool fs_exchange(int port, const std::string &msg, std::string *reply) {
  PlSocket c = mwa_socket(PL_AF_INET);
  MwaSockAddr a;
  mwa_setloopback4(&a, port);
  if (mwa_connect(c, &a) != 0) {
    mwa_closesocket(c);
    return false;
  }
  mwa_writesocket(c, msg.data(), msg.size());
  char buf[4096];
  long n;
  reply->clear();
  while ((n = mwa_readsocket(c, buf, sizeof buf)) > 0)
    reply->append(buf, static_cast<size_t>(n));
  mwa_closesocket(c);
  return true;
}

std::string fs_post(const char *body) {
  return std::string("POST /service/Control HTTP/1.0\r\nContent-Length: ") + std::to_string(strlen(body)) +
         "\r\n\r\n" + body;
}

struct Result {
  double perSecond, p50, p99;
  long errors;
};

// Runs `clients` threads doing `trip` for `seconds`; latencies in ms.
template <typename Trip> Result fs_run(int clients, int seconds, Trip trip) {
  std::vector<std::vector<double>> lat(static_cast<size_t>(clients));
  std::atomic<long> errors{0};
  uint64_t end = pl_monotonic_ms() + static_cast<uint64_t>(seconds) * 1000;
  std::vector<std::thread> threads;
  uint64_t t0 = pl_monotonic_ms();
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&, i] {
      while (pl_monotonic_ms() < end) {
        uint64_t s = pl_monotonic_ms();
        if (!trip())
          ++errors;
        lat[static_cast<size_t>(i)].push_back(static_cast<double>(pl_monotonic_ms() - s));
      }
    });
  for (auto &t : threads)
    t.join();
  double elapsed = static_cast<double>(pl_monotonic_ms() - t0) / 1000.0;
  std::vector<double> all;
  for (auto &v : lat)
    all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  Result r = {0, 0, 0, errors};
  if (!all.empty()) {
    r.perSecond = static_cast<double>(all.size()) / elapsed;
    r.p50 = all[all.size() / 2];
    r.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  return r;
}

// The floor: accept, read a request, answer a fixed reply, close.
void fs_floorServer(PlSocket l, std::atomic<bool> *stop) {
  while (!*stop) {
    bool ready = false;
    if (mwa_select(&l, 1, &ready, 100) <= 0)
      continue;
    MwaSockAddr peer;
    PlSocket c = mwa_accept(l, &peer);
    if (c == PL_INVALID_SOCKET)
      continue;
    char buf[4096];
    mwa_readsocket(c, buf, sizeof buf);
    static const char reply[] = "HTTP/1.0 200 OK\r\nContent-Length: 18\r\n\r\nCommonAgent-OPENED";
    mwa_writesocket(c, reply, sizeof reply - 1);
    mwa_closesocket(c);
  }
}

} // namespace

int main(int argc, char **argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 5;
  pl_net_startup();
  TkInstall in;
  const TkScratch &s = in.s;
  int port = 0, http = 0;
  in.install_scripted_agent(&port, &http);
  std::string props = in.at("agent/config/server.properties");
  tk_write(props, tk_read(props) + "server.agent.always=true\n");

  TkRun daemon;
  if (!tk_start(&daemon, s, {tk_bin("tovx_service"), "--dev-console"}, "", {"TOVX_REGISTRY=" + s.path("registry")}))
    return 1;
  // Ready once an OPEN is answered.
  std::string reply;
  for (int i = 0; i < 200; ++i) {
    if (fs_exchange(port, fs_post("CommonAgent-OPEN\r\n"), &reply) && reply.find("OPENED") != std::string::npos)
      break;
    pl_sleep_ms(100);
  }
  fs_exchange(port, fs_post("CommonAgent-CLOSE\r\n"), &reply);

  PlSocket floor = mwa_socket(PL_AF_INET);
  MwaSockAddr a;
  mwa_setloopback4(&a, 0);
  mwa_bind(floor, &a);
  mwa_listen(floor, 128);
  int floorPort = pl_sock_port(floor);
  std::atomic<bool> stop{false};
  std::thread floorThread(fs_floorServer, floor, &stop);

  setvbuf(stdout, nullptr, _IONBF, 0);
  printf("%-34s %10s %9s %9s %7s\n", "run", "trips/s", "p50 ms", "p99 ms", "errors");
  for (int clients : {1, 64}) {
    Result d = fs_run(clients, seconds, [&] {
      std::string r1, r2;
      return fs_exchange(port, fs_post("CommonAgent-OPEN\r\n"), &r1) && r1.find("OPENED") != std::string::npos &&
             fs_exchange(port, fs_post("CommonAgent-CLOSE\r\n"), &r2) && r2.find("CLOSED") != std::string::npos;
    });
    printf("%-34s %10.1f %9.1f %9.1f %7ld\n", ("daemon OPEN+CLOSE, " + std::to_string(clients) + " requesters").c_str(),
           d.perSecond, d.p50, d.p99, d.errors);
    Result f = fs_run(clients, seconds, [&] {
      std::string r1, r2;
      return fs_exchange(floorPort, fs_post("x"), &r1) && fs_exchange(floorPort, fs_post("y"), &r2);
    });
    printf("%-34s %10.1f %9.1f %9.1f %7ld\n", ("floor two exchanges, " + std::to_string(clients) + " requesters").c_str(),
           f.perSecond, f.p50, f.p99, f.errors);
  }
  stop = true;
  floorThread.join();
  mwa_closesocket(floor);
  fs_exchange(port, fs_post("TALVAgent-STOP\r\n"), &reply);
  tk_finish(&daemon, 30000);
  return 0;
}
