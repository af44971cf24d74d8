// The agent's configuration: ports, always-on mode and memory settings
// from server.properties, and the agent's argument list built from them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon.h"
#include "mwa_error.h"
#include "platform/file.h"
#include "sv_error.h"

namespace {

char fs_xmx[32];
char fs_xss[32];
const char *fs_agentArgs[4];

struct PortKey {
  const char *key;
  uint16_t deflt;
  char text[32];
  uint16_t port;
};

struct SizeKey {
  const char *key;
  bool given;
  bool notNumeric;
  unsigned long long value;
};

// Leading decimal digits (with a sign), reduced to 16 bits.
uint16_t fs_portValue(const char *text) {
  const char *p = text;
  bool neg = *p == '-';
  if (*p == '-' || *p == '+')
    ++p;
  unsigned long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    v = (v * 10 + static_cast<unsigned long>(*p - '0')) & 0xffffffUL;
  return static_cast<uint16_t>(neg ? 0UL - v : v);
}

void fs_readSize(SizeKey *k, const char *value) {
  if (!*value)
    return;
  k->given = true;
  unsigned long long v = 0;
  for (const char *p = value; *p; ++p) {
    if (*p < '0' || *p > '9') {
      k->notNumeric = true;
      return;
    }
    if (v < 100000000ULL) // far above every range; no overflow
      v = v * 10 + static_cast<unsigned long long>(*p - '0');
  }
  k->value = v;
}

int fs_refuse(int number) {
  PutMessage(number);
  fprintf(stderr, "%s\n", GetMessageText(number));
  return 2;
}

} // namespace

int GetAgentArgDataFrom(MngInfo *pMngInfo, const char *path) {
  PortKey ports[3] = {{"server.agent.port=", 24041, "", 0},
                      {"server.http.port=", 24042, "", 0},
                      {"server.http.localPort=", 24043, "", 0}};
  SizeKey mem = {"server.agent.maxMemorySize=", false, false, 0};
  SizeKey stack = {"server.agent.maxStackSize=", false, false, 0};
  uint32_t alwaysOn = 0;
  for (PortKey &p : ports)
    p.port = p.deflt;

  int err = 0;
  FILE *fp = pl_file_open(path, "r", 0, &err);
  if (!fp) {
    PutErrorDetail(SV_LINE_SYSCALL, "GetAgentArgData", 89, "fopen", err, 0, "?", PL_INVALID_SOCKET);
    PutSystemError(err);
  } else {
    char raw[127];
    while (fgets(raw, sizeof raw, fp)) {
      if (char *hash = strchr(raw, '#'))
        *hash = '\0';
      char line[127];
      size_t n = 0;
      for (const char *p = raw; *p; ++p)
        if (*p != ' ' && *p != '\t')
          line[n++] = *p;
      line[n] = '\0';
      if (n < 2)
        continue;
      if (line[n - 1] == '\n')
        line[--n] = '\0';
      auto valueOf = [&](const char *key) -> const char * {
        size_t klen = strlen(key);
        if (strncmp(line, key, klen) != 0)
          return nullptr;
        return strchr(line, '=') + 1;
      };
      char value[32];
      for (PortKey &p : ports)
        if (const char *v = valueOf(p.key)) {
          snprintf(value, sizeof value, "%.31s", v);
          if (*value) {
            snprintf(p.text, sizeof p.text, "%s", value);
            p.port = fs_portValue(value);
          }
        }
      if (const char *v = valueOf("server.agent.always=")) {
        snprintf(value, sizeof value, "%.31s", v);
        if (mwa_stricmp(value, "true") == 0)
          alwaysOn = 1;
      }
      for (SizeKey *k : {&mem, &stack})
        if (const char *v = valueOf(k->key)) {
          snprintf(value, sizeof value, "%.31s", v);
          fs_readSize(k, value);
        }
    }
    fclose(fp);
  }

  // A port that is 0 or not exactly its number falls back to its default.
  for (PortKey &p : ports)
    if (p.port == 0 || strtod(p.text, nullptr) != static_cast<double>(p.port))
      p.port = p.deflt;
  uint16_t agentPort = ports[0].port, httpPort = ports[1].port, localPort = ports[2].port;
  if (agentPort == httpPort) {
    PutMessage(21017);
    return 2;
  }
  if (agentPort == localPort) {
    PutMessage(21020);
    return 2;
  }
  if (httpPort == localPort) {
    PutMessage(21019);
    return 2;
  }
  if (mem.given) {
    if (mem.notNumeric)
      return fs_refuse(21028);
    if (mem.value < 32 || mem.value > 4096)
      return fs_refuse(21029);
  }
  if (stack.given) {
    if (stack.notNumeric)
      return fs_refuse(21030);
    if (!((stack.value >= 1 && stack.value <= 8) || (stack.value >= 256 && stack.value <= 8192)))
      return fs_refuse(21031);
  }

  pMngInfo->agentPort = agentPort;
  pMngInfo->httpPort = httpPort;
  pMngInfo->localPort = localPort;
  pMngInfo->alwaysOn = alwaysOn;
  pMngInfo->maxMemorySize = mem.given ? static_cast<uint32_t>(mem.value) : 0;
  pMngInfo->maxStackSize = stack.given ? static_cast<int32_t>(stack.value) : 0;
  fs_xmx[0] = fs_xss[0] = '\0';
  if (mem.given)
    snprintf(fs_xmx, sizeof fs_xmx, "-Xmx%dm", static_cast<int>(mem.value));
  if (stack.given)
    snprintf(fs_xss, sizeof fs_xss, stack.value <= 8 ? "-Xss%dm" : "-Xss%dk", static_cast<int>(stack.value));
  fs_agentArgs[0] = pMngInfo->agentArgs ? pMngInfo->agentArgs[0] : nullptr;
  fs_agentArgs[1] = fs_xmx;
  fs_agentArgs[2] = fs_xss;
  fs_agentArgs[3] = nullptr;
  pMngInfo->agentArgs = fs_agentArgs;
  return 0;
}

int GetAgentArgData(MngInfo *pMngInfo, int argc, char **argv) {
  (void)argc;
  (void)argv;
  char path[64];
  snprintf(path, sizeof path, "..%cagent%cconfig%cserver.properties", pl_path_sep, pl_path_sep, pl_path_sep);
  return GetAgentArgDataFrom(pMngInfo, path);
}
