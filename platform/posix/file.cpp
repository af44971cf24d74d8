#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char pl_path_sep = '/';
const char pl_text_eol[] = "\n";
const char pl_exe_suffix[] = "";
const char pl_script_suffix[] = ".sh";

int pl_file_create_new(const char *path) {
  // O_EXCL with O_CREAT never follows a link: an existing link is EEXIST.
  int fd = open(path, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return errno;
  close(fd);
  return 0;
}

int pl_file_delete(const char *path) { return unlink(path) == 0 ? 0 : errno; }

int pl_file_exists(const char *path) {
  struct stat st;
  return lstat(path, &st) == 0 ? 1 : 0;
}

FILE *pl_file_open(const char *path, const char *mode, int flags, int *err) {
  bool plus = strchr(mode, '+') != nullptr;
  int oflags = O_CLOEXEC;
  bool truncate = false;
  switch (mode[0]) {
  case 'r':
    oflags |= plus ? O_RDWR : O_RDONLY;
    break;
  case 'w':
    oflags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
    truncate = true;
    break;
  case 'a':
    oflags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    break;
  default:
    if (err)
      *err = EINVAL;
    return nullptr;
  }
  if (flags & PL_OPEN_NOFOLLOW)
    oflags |= O_NOFOLLOW;
  int fd = open(path, oflags, 0666);
  if (fd < 0) {
    if (err)
      *err = errno;
    return nullptr;
  }
  if (flags & PL_OPEN_OWN_ONLY) {
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
      close(fd);
      if (err)
        *err = EPERM;
      return nullptr;
    }
  }
  // Truncate only once the file is known to be the one we may change.
  if (truncate && ftruncate(fd, 0) != 0) {
    int e = errno;
    close(fd);
    if (err)
      *err = e;
    return nullptr;
  }
  FILE *fp = fdopen(fd, mode);
  if (!fp) {
    int e = errno;
    close(fd);
    if (err)
      *err = e;
    return nullptr;
  }
  if (err)
    *err = 0;
  return fp;
}

int pl_file_clear_readonly(const char *path) {
  struct stat st;
  if (lstat(path, &st) != 0)
    return errno;
  if (S_ISLNK(st.st_mode))
    return 0;
  return chmod(path, st.st_mode | S_IWUSR) == 0 ? 0 : errno;
}

int pl_dir_create(const char *path) { return mkdir(path, 0777) == 0 ? 0 : errno; }

int pl_dir_remove(const char *path) { return rmdir(path) == 0 ? 0 : errno; }

int pl_dir_list(const char *path, std::vector<std::string> *names) {
  DIR *d = opendir(path);
  if (!d)
    return errno;
  names->clear();
  while (struct dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
      continue;
    names->push_back(e->d_name);
  }
  closedir(d);
  return 0;
}

int pl_temp_dir(char *buf, size_t size) {
  const char *dir = getenv("TMPDIR");
  if (!dir || !*dir)
    dir = "/tmp";
  size_t len = strlen(dir);
  bool add_sep = dir[len - 1] != '/';
  size_t need = len + (add_sep ? 1 : 0);
  if (need >= size)
    return static_cast<int>(need);
  memcpy(buf, dir, len);
  if (add_sep)
    buf[len++] = '/';
  buf[len] = '\0';
  return static_cast<int>(len);
}

int pl_file_set_executable(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0)
    return errno;
  return chmod(path, st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) == 0 ? 0 : errno;
}

int pl_file_set_readonly(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0)
    return errno;
  return chmod(path, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? 0 : errno;
}

int pl_file_readable(const char *path) { return access(path, R_OK) == 0 ? 1 : 0; }

int pl_file_kind(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0)
    return 0;
  return S_ISREG(st.st_mode) ? 1 : S_ISDIR(st.st_mode) ? 2 : 3;
}

int pl_file_size(const char *path, unsigned long long *size) {
  struct stat st;
  if (stat(path, &st) != 0)
    return errno;
  *size = static_cast<unsigned long long>(st.st_size);
  return 0;
}

int pl_file_copy(const char *src, const char *dst) {
  int in = open(src, O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return errno;
  int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    close(in);
    return e;
  }
  char buf[65536];
  int rc = 0;
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      rc = errno;
      break;
    }
    if (n == 0)
      break;
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf + off, static_cast<size_t>(n - off));
      if (w < 0 && errno == EINTR)
        continue;
      if (w < 0) {
        rc = errno;
        break;
      }
      off += w;
    }
    if (rc)
      break;
  }
  close(in);
  if (close(out) != 0 && !rc)
    rc = errno;
  return rc;
}

int pl_chdir(const char *path) { return chdir(path) == 0 ? 0 : errno; }

int pl_getcwd(char *buf, size_t size) { return getcwd(buf, size) ? 0 : errno; }
