#include "platform/file.h"

#include <cerrno>
#include <cstring>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "internal.h"

const char pl_path_sep = '\\';
const char pl_text_eol[] = "\r\n";
const char pl_exe_suffix[] = ".exe";
const char pl_script_suffix[] = ".cmd";

int pl_win_errno(DWORD err) {
  switch (err) {
  case ERROR_SUCCESS:
    return 0;
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return EACCES;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    return EEXIST;
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_INVALID_PARAMETER:
    return EINVAL;
  case ERROR_FILENAME_EXCED_RANGE:
    return ENAMETOOLONG;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  case ERROR_DIR_NOT_EMPTY:
    return ENOTEMPTY;
  case ERROR_SEM_TIMEOUT:
    return ETIMEDOUT;
  default:
    return EIO;
  }
}

int pl_file_create_new(const char *path) {
  int fd = _open(path, _O_CREAT | _O_EXCL | _O_RDWR, _S_IREAD | _S_IWRITE);
  if (fd < 0)
    return errno;
  _close(fd);
  return 0;
}

int pl_file_delete(const char *path) {
  return DeleteFileA(path) ? 0 : pl_win_errno(GetLastError());
}

int pl_file_exists(const char *path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// Windows has no symbolic links in the temporary directory to fear here,
// and ownership is the directory's ACL's business: the flags are no-ops.
FILE *pl_file_open(const char *path, const char *mode, int flags, int *err) {
  (void)flags;
  errno = 0;
  FILE *fp = fopen(path, mode);
  if (err)
    *err = fp ? 0 : errno;
  return fp;
}

int pl_file_clear_readonly(const char *path) {
  DWORD attr = GetFileAttributesA(path);
  if (attr == INVALID_FILE_ATTRIBUTES)
    return pl_win_errno(GetLastError());
  if (!(attr & FILE_ATTRIBUTE_READONLY))
    return 0;
  return SetFileAttributesA(path, attr & ~FILE_ATTRIBUTE_READONLY) ? 0 : pl_win_errno(GetLastError());
}

int pl_dir_create(const char *path) {
  return CreateDirectoryA(path, nullptr) ? 0 : pl_win_errno(GetLastError());
}

int pl_dir_remove(const char *path) {
  return RemoveDirectoryA(path) ? 0 : pl_win_errno(GetLastError());
}

int pl_dir_list(const char *path, std::vector<std::string> *names) {
  std::string pattern = path;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
    pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE)
    return pl_win_errno(GetLastError());
  names->clear();
  do {
    if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0)
      names->push_back(fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return 0;
}

int pl_temp_dir(char *buf, size_t size) {
  DWORD n = GetTempPathA(static_cast<DWORD>(size), buf);
  if (n == 0)
    return -1;
  return static_cast<int>(n); // n >= size: it did not fit
}

int pl_file_set_executable(const char *path) { return pl_file_exists(path) ? 0 : ENOENT; }

int pl_file_set_readonly(const char *path) {
  DWORD attr = GetFileAttributesA(path);
  if (attr == INVALID_FILE_ATTRIBUTES)
    return pl_win_errno(GetLastError());
  return SetFileAttributesA(path, attr | FILE_ATTRIBUTE_READONLY) ? 0 : pl_win_errno(GetLastError());
}

int pl_file_readable(const char *path) { return _access(path, 4) == 0 ? 1 : 0; }

int pl_file_kind(const char *path) {
  DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES)
    return 0;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

int pl_file_size(const char *path, unsigned long long *size) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &d))
    return pl_win_errno(GetLastError());
  *size = (static_cast<unsigned long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  return 0;
}

int pl_file_copy(const char *src, const char *dst) {
  return CopyFileA(src, dst, FALSE) ? 0 : pl_win_errno(GetLastError());
}

int pl_chdir(const char *path) { return _chdir(path) == 0 ? 0 : errno; }

int pl_getcwd(char *buf, size_t size) { return _getcwd(buf, static_cast<int>(size)) ? 0 : errno; }
