// Mailslot stand-in: a Unix datagram socket per mailslot, under one
// machine-wide directory so that writer and server meet whatever their
// own TMPDIR. "\\.\mailslot\A\B\C" is the socket /tmp/.mailslot/A/B/C.
// Folders are sticky and world-writable like /tmp; each socket is
// usable by its owner only.
#include "platform/mailslot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char kRoot[] = "/tmp/.mailslot";

struct Slot {
  int fd;
  bool server;
  std::string path;
};

// Maps a mailslot name to its socket path. Empty, "." and ".." components
// are refused so that no name reaches outside the root.
int fs_mapName(const char *name, std::string *path) {
  const char prefix[] = "\\\\.\\mailslot\\";
  size_t plen = sizeof prefix - 1;
  if (strncasecmp(name, prefix, plen) != 0)
    return EINVAL;
  std::string out = kRoot;
  const char *p = name + plen;
  if (!*p)
    return EINVAL;
  while (*p) {
    const char *end = strchr(p, '\\');
    size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
    std::string comp(p, n);
    if (comp.empty() || comp == "." || comp == ".." || comp.find('/') != std::string::npos)
      return EINVAL;
    out += '/';
    out += comp;
    p += n;
    if (*p == '\\')
      ++p;
    if (end && !*p)
      return EINVAL; // trailing backslash
  }
  if (out.size() >= sizeof(((struct sockaddr_un *)nullptr)->sun_path))
    return ENAMETOOLONG;
  *path = out;
  return 0;
}

int fs_fillAddr(const std::string &path, struct sockaddr_un *addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path)
    return ENAMETOOLONG;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return 0;
}

// A shared folder must be a real directory, sticky or our own.
int fs_checkDir(const char *dir) {
  struct stat st;
  if (lstat(dir, &st) != 0)
    return errno;
  if (!S_ISDIR(st.st_mode))
    return ENOTDIR;
  if (st.st_uid != geteuid() && st.st_uid != 0 && !(st.st_mode & S_ISVTX))
    return EACCES;
  if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
    return EACCES;
  return 0;
}

// Creates every folder above the socket, sticky and open to all users.
int fs_makeDirs(const std::string &path) {
  for (size_t pos = strlen("/tmp/"); pos < path.size(); ++pos) {
    pos = path.find('/', pos);
    if (pos == std::string::npos)
      break;
    std::string dir = path.substr(0, pos);
    if (mkdir(dir.c_str(), 01777) == 0) {
      chmod(dir.c_str(), 01777); // umask would narrow it
    } else if (errno != EEXIST) {
      return errno;
    }
    int rc = fs_checkDir(dir.c_str());
    if (rc)
      return rc;
  }
  return 0;
}

} // namespace

struct PlMailslot {
  Slot s;
};

int pl_mailslot_open(const char *name, PlMailslot **out) {
  std::string path;
  int rc = fs_mapName(name, &path);
  if (rc)
    return rc;
  struct sockaddr_un addr;
  if ((rc = fs_fillAddr(path, &addr)))
    return rc;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return errno;
  // Connecting a datagram socket fails at once when no server is bound.
  if (connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0) {
    int e = errno;
    close(fd);
    return (e == ECONNREFUSED || e == ENOENT) ? ENOENT : e;
  }
  *out = new PlMailslot{{fd, false, path}};
  return 0;
}

int pl_mailslot_write(PlMailslot *slot, const void *data, size_t len) {
  ssize_t n;
  do {
    n = send(slot->s.fd, data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return errno;
  return static_cast<size_t>(n) == len ? 0 : EIO;
}

int pl_mailslot_create(const char *name, PlMailslot **out) {
  std::string path;
  int rc = fs_mapName(name, &path);
  if (rc)
    return rc;
  if ((rc = fs_makeDirs(path)))
    return rc;
  struct sockaddr_un addr;
  if ((rc = fs_fillAddr(path, &addr)))
    return rc;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return errno;
  mode_t old = umask(0177);
  int b = bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
  int e = errno;
  if (b != 0 && e == EADDRINUSE) {
    // A socket of a server that has gone is replaced; a live one is kept.
    struct stat st;
    int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool alive = probe >= 0 &&
                 connect(probe, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) == 0;
    if (probe >= 0)
      close(probe);
    if (!alive && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_uid == geteuid() && unlink(path.c_str()) == 0) {
      b = bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
      e = errno;
    }
  }
  umask(old);
  if (b != 0) {
    close(fd);
    return e;
  }
  chmod(path.c_str(), 0600);
  *out = new PlMailslot{{fd, true, path}};
  return 0;
}

int pl_mailslot_read(PlMailslot *slot, void *buf, size_t size, int timeout_ms,
                     size_t *got, int *err) {
  struct pollfd p = {slot->s.fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    *err = errno;
    return -1;
  }
  if (r == 0)
    return 0;
  ssize_t n = recv(slot->s.fd, buf, size, 0);
  if (n < 0) {
    *err = errno;
    return -1;
  }
  *got = static_cast<size_t>(n);
  return 1;
}

void pl_mailslot_close(PlMailslot *slot) {
  if (!slot)
    return;
  close(slot->s.fd);
  if (slot->s.server)
    unlink(slot->s.path.c_str());
  delete slot;
}
