// scripted_agent: stands for the Java management agent in tests. Started
// by the daemon through the start script, from the agent directory.
//
// It reads config/server.properties for the daemon's port and its own
// control port, and config/scripted_agent.txt for its script:
//   announce both|remote|local|none   start announcements (default both)
//   delay N                           wait N ms before announcing (late start)
//   answer OK|NG|none|close           how it answers every ACS request
//                                     (read again for each request)
// It appends each request's body line to scripted_agent.log and ends
// after it has accepted a stop.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/net.h"

namespace {

std::string fs_value(const std::string &file, const std::string &key, const std::string &deflt) {
  FILE *fp = pl_file_open(file.c_str(), "r", 0, nullptr);
  if (!fp)
    return deflt;
  char line[512];
  std::string v = deflt;
  while (fgets(line, sizeof line, fp)) {
    std::string l = line;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
      l.pop_back();
    if (l.compare(0, key.size(), key) == 0)
      v = l.substr(key.size());
  }
  fclose(fp);
  return v;
}

void fs_log(const std::string &text) {
  FILE *fp = pl_file_open("scripted_agent.log", "a", 0, nullptr);
  if (fp) {
    fprintf(fp, "%s\n", text.c_str());
    fclose(fp);
  }
}

bool fs_announce(int port, const char *body) {
  PlSocket s = pl_socket_tcp(PL_AF_INET);
  PlSockAddr a;
  pl_sockaddr_loopback4(&a, port);
  if (pl_connect(s, &a) != 0) {
    pl_closesocket(s);
    return false;
  }
  std::string msg = "POST /service/Control HTTP/1.0\r\nContent-Length: " + std::to_string(strlen(body) + 2) +
                    "\r\n\r\n" + body + "\r\n";
  pl_send(s, msg.data(), msg.size());
  pl_closesocket(s);
  return true;
}

// Reads one request: headers, then Content-Length bytes of body.
std::string fs_readBody(PlSocket s) {
  std::string all;
  char buf[4096];
  for (;;) {
    size_t end = all.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t cl = all.find("Content-Length: ");
      size_t want = cl == std::string::npos ? 0 : static_cast<size_t>(atol(all.c_str() + cl + 16));
      if (all.size() >= end + 4 + want) {
        std::string body = all.substr(end + 4, want);
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
          body.pop_back();
        return body;
      }
    }
    long n = pl_recv(s, buf, sizeof buf);
    if (n <= 0)
      return "";
    all.append(buf, static_cast<size_t>(n));
  }
}

} // namespace

int main() {
  pl_net_startup();
  std::string props = std::string("config") + pl_path_sep + "server.properties";
  std::string script = std::string("config") + pl_path_sep + "scripted_agent.txt";
  int daemonPort = atoi(fs_value(props, "server.agent.port=", "24041").c_str());
  int localPort = atoi(fs_value(props, "server.http.localPort=", "24043").c_str());
  std::string announce = fs_value(script, "announce ", "both");
  std::string answer = fs_value(script, "answer ", "OK");
  int delay = atoi(fs_value(script, "delay ", "0").c_str());

  PlSocket l = pl_socket_tcp(PL_AF_INET);
  pl_sock_reuse(l);
  PlSockAddr a;
  pl_sockaddr_loopback4(&a, localPort);
  if (pl_bind(l, &a) != 0 || pl_listen(l, 10) != 0) {
    fs_log("cannot listen");
    return 1;
  }
  fs_log("started");
  if (delay > 0)
    pl_sleep_ms(static_cast<unsigned>(delay));
  if (announce == "both" || announce == "remote")
    fs_announce(daemonPort, "TALVAgent-REMOTESTARTING");
  if (announce == "both" || announce == "local")
    fs_announce(daemonPort, "TALVAgent-LOCALSTARTING");
  for (;;) {
    PlSockAddr peer;
    PlSocket c = pl_accept(l, &peer);
    if (c == PL_INVALID_SOCKET)
      return 2;
    std::string body = fs_readBody(c);
    fs_log(body);
    answer = fs_value(script, "answer ", "OK");
    bool stop = body == "ACS-STOP" || body == "ACS-SAFESTOP" || body == "ACS-NOTICESTOP";
    if (answer == "OK" || answer == "NG") {
      std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nACS-" + answer + "\r\n";
      pl_send(c, reply.data(), reply.size());
    }
    if (answer != "none")
      pl_closesocket(c);
    if (stop && answer == "OK") {
      fs_log("stopping");
      pl_closesocket(l);
      return 0;
    }
  }
}
