// Registry stand-in: a tree of directories, one per key, under one root
// (TOVX_REGISTRY, default /var/lib/tovx/registry). Each key's values live
// in one file, .values, rewritten whole through a temporary file and a
// rename, so a reader sees the old or the new set, never half of one.
// Names compare without regard to ASCII case and keep the case they were
// created with. docs/ARCHITECTURE.md gives the formats.
#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <set>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct PlRegKey {
  int root;          // PlRegRoot, or -1 for an opened key
  std::string path;  // directory of an opened key
  int access;
  int32_t id;        // the key as an integer
};

namespace {

PlRegKey fs_roots[3] = {{PL_HKLM, "", PL_REG_ALL, 0}, {PL_HKCU, "", PL_REG_ALL, 0}, {PL_HKU, "", PL_REG_ALL, 0}};
const char *const kRootNames[3] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};
const char kValues[] = ".values";
const char kMagic[] = "TOVXREG 1\n";

struct Value {
  std::string name;
  uint32_t type;
  std::string data;
};

// Opened keys: a handle that is not among them is refused, never used.
std::mutex fs_liveLock;
std::set<PlRegKey *> fs_live;
std::map<int32_t, PlRegKey *> fs_ids;
int32_t fs_lastId;
const int32_t kRootIds[3] = {static_cast<int32_t>(0x80000002u), static_cast<int32_t>(0x80000001u),
                             static_cast<int32_t>(0x80000003u)};

bool fs_valid(PlHkey key) {
  if (!key)
    return false;
  if (key >= &fs_roots[0] && key <= &fs_roots[2])
    return true;
  std::lock_guard<std::mutex> g(fs_liveLock);
  return fs_live.count(key) != 0;
}

PlHkey fs_newKey(const std::string &dir, int access) {
  PlRegKey *k = new PlRegKey{-1, dir, access & PL_REG_ALL, 0};
  std::lock_guard<std::mutex> g(fs_liveLock);
  fs_live.insert(k);
  // Small positive ids, never reused while the key is open.
  do {
    fs_lastId = fs_lastId >= 0x3fffffff ? 1 : fs_lastId + 1;
  } while (fs_ids.count(fs_lastId));
  k->id = fs_lastId;
  fs_ids[k->id] = k;
  return k;
}

std::string fs_fold(const std::string &s) {
  std::string out = s;
  for (char &c : out)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool fs_sameName(const std::string &a, const std::string &b) { return fs_fold(a) == fs_fold(b); }

// Key names may hold any character but the backslash; on disk "/", "%"
// and a leading "." are written as %XX.
std::string fs_encode(const std::string &name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '%' || (i == 0 && c == '.')) {
      char buf[4];
      snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string fs_decode(const std::string &name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 2 < name.size()) {
      out += static_cast<char>(strtol(name.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

std::string fs_rootDir() {
  const char *r = getenv("TOVX_REGISTRY");
  return (r && *r) ? r : "/var/lib/tovx/registry";
}

int fs_errno(int e) {
  switch (e) {
  case ENOENT:
  case ENOTDIR:
    return PL_ERR_FILE_NOT_FOUND;
  case EACCES:
  case EPERM:
  case EROFS:
    return PL_ERR_ACCESS_DENIED;
  case ENOMEM:
    return PL_ERR_OUTOFMEMORY;
  default:
    return PL_ERR_CANTWRITE;
  }
}

// Directory of a handle; roots are made on first use.
int fs_keyDir(PlHkey key, std::string *dir) {
  if (!fs_valid(key))
    return PL_ERR_INVALID_HANDLE;
  if (key->root >= 0) {
    std::string base = fs_rootDir();
    *dir = base + "/" + kRootNames[key->root];
    struct stat st;
    if (stat(dir->c_str(), &st) != 0) {
      // Make the store's root and the hive's folder.
      std::string acc;
      for (size_t pos = 1; pos <= dir->size(); ++pos) {
        if (pos == dir->size() || (*dir)[pos] == '/') {
          acc = dir->substr(0, pos);
          if (mkdir(acc.c_str(), 0755) != 0 && errno != EEXIST)
            return fs_errno(errno);
        }
      }
    }
    return 0;
  }
  struct stat st;
  if (stat(key->path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return PL_ERR_KEY_DELETED;
  *dir = key->path;
  return 0;
}

// Subkeys of a directory: (name as created, directory entry), sorted.
int fs_subkeys(const std::string &dir, std::vector<std::pair<std::string, std::string>> *out) {
  DIR *d = opendir(dir.c_str());
  if (!d)
    return errno == ENOENT ? PL_ERR_KEY_DELETED : fs_errno(errno);
  out->clear();
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.')
      continue;
    std::string full = dir + "/" + e->d_name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      continue;
    out->emplace_back(fs_decode(e->d_name), e->d_name);
  }
  closedir(d);
  std::sort(out->begin(), out->end(), [](const auto &a, const auto &b) {
    std::string fa = fs_fold(a.first), fb = fs_fold(b.first);
    return fa != fb ? fa < fb : a.first < b.first;
  });
  return 0;
}

std::vector<std::string> fs_split(const char *sub) {
  std::vector<std::string> parts;
  if (!sub)
    return parts;
  std::string cur;
  for (const char *p = sub;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!cur.empty())
        parts.push_back(cur);
      cur.clear();
      if (!*p)
        break;
    } else {
      cur += *p;
    }
  }
  return parts;
}

int fs_walk(PlHkey parent, const char *sub, bool create, std::string *out) {
  std::string dir;
  int rc = fs_keyDir(parent, &dir);
  if (rc)
    return rc;
  for (const std::string &part : fs_split(sub)) {
    std::vector<std::pair<std::string, std::string>> subs;
    if ((rc = fs_subkeys(dir, &subs)))
      return rc;
    auto it = std::find_if(subs.begin(), subs.end(),
                           [&](const auto &s) { return fs_sameName(s.first, part); });
    if (it != subs.end()) {
      dir += "/" + it->second;
      continue;
    }
    if (!create)
      return PL_ERR_FILE_NOT_FOUND;
    std::string next = dir + "/" + fs_encode(part);
    if (mkdir(next.c_str(), 0755) != 0 && errno != EEXIST)
      return fs_errno(errno);
    dir = next;
  }
  *out = dir;
  return 0;
}

int fs_readValues(const std::string &dir, std::vector<Value> *vals) {
  vals->clear();
  std::string path = dir + "/" + kValues;
  FILE *fp = fopen(path.c_str(), "rb");
  if (!fp)
    return errno == ENOENT ? 0 : PL_ERR_CANTREAD;
  std::string text;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
    text.append(buf, n);
  bool readErr = ferror(fp);
  fclose(fp);
  if (readErr)
    return PL_ERR_CANTREAD;
  // "TOVXREG 1\n", then "V <type> <namelen> <datalen>\n<name><data>\n"
  // per value, then "E\n". Anything else: the file is not to be trusted.
  size_t pos = sizeof kMagic - 1;
  if (text.compare(0, pos, kMagic) != 0)
    return PL_ERR_REGISTRY_CORRUPT;
  for (;;) {
    if (text.compare(pos, std::string::npos, "E\n") == 0)
      break;
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos || text[pos] != 'V')
      return PL_ERR_REGISTRY_CORRUPT;
    unsigned long type, nlen, dlen;
    if (sscanf(text.c_str() + pos, "V %lu %lu %lu\n", &type, &nlen, &dlen) != 3)
      return PL_ERR_REGISTRY_CORRUPT;
    pos = eol + 1;
    if (nlen > text.size() - pos || dlen > text.size() - pos - nlen ||
        pos + nlen + dlen >= text.size() || text[pos + nlen + dlen] != '\n')
      return PL_ERR_REGISTRY_CORRUPT;
    vals->push_back({text.substr(pos, nlen), static_cast<uint32_t>(type), text.substr(pos + nlen, dlen)});
    pos += nlen + dlen + 1;
  }
  return 0;
}

int fs_writeValues(const std::string &dir, const std::vector<Value> &vals) {
  std::string text = kMagic;
  for (const Value &v : vals) {
    char head[80];
    snprintf(head, sizeof head, "V %lu %lu %lu\n", static_cast<unsigned long>(v.type),
             static_cast<unsigned long>(v.name.size()), static_cast<unsigned long>(v.data.size()));
    text += head;
    text += v.name;
    text += v.data;
    text += '\n';
  }
  text += "E\n";
  std::string tmp = dir + "/.values.tmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0)
    return fs_errno(errno);
  size_t off = 0;
  while (off < text.size()) {
    ssize_t w = write(fd, text.data() + off, text.size() - off);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      close(fd);
      unlink(tmp.c_str());
      return PL_ERR_CANTWRITE;
    }
    off += static_cast<size_t>(w);
  }
  if (fsync(fd) != 0 || close(fd) != 0 || rename(tmp.c_str(), (dir + "/" + kValues).c_str()) != 0) {
    unlink(tmp.c_str());
    return PL_ERR_CANTWRITE;
  }
  return 0;
}

void fs_sortValues(std::vector<Value> *vals) {
  std::sort(vals->begin(), vals->end(), [](const Value &a, const Value &b) {
    std::string fa = fs_fold(a.name), fb = fs_fold(b.name);
    return fa != fb ? fa < fb : a.name < b.name;
  });
}

int fs_copyOut(const std::string &data, uint32_t *type, uint32_t vtype, void *out, uint32_t *len) {
  if (type)
    *type = vtype;
  if (!len)
    return out ? PL_ERR_INVALID_PARAMETER : 0;
  uint32_t have = *len;
  *len = static_cast<uint32_t>(data.size());
  if (!out)
    return 0;
  if (data.size() > have)
    return PL_ERR_MORE_DATA;
  memcpy(out, data.data(), data.size());
  return 0;
}

int fs_copyName(const std::string &name, char *out, uint32_t *len) {
  if (!out || !len)
    return PL_ERR_INVALID_PARAMETER;
  if (name.size() >= *len)
    return PL_ERR_MORE_DATA;
  memcpy(out, name.c_str(), name.size() + 1);
  *len = static_cast<uint32_t>(name.size());
  return 0;
}

} // namespace

PlHkey pl_reg_root(PlRegRoot root) { return &fs_roots[root]; }

int32_t pl_reg_handle_id(PlHkey key) {
  for (int r = 0; r < 3; ++r)
    if (key == &fs_roots[r])
      return kRootIds[r];
  std::lock_guard<std::mutex> g(fs_liveLock);
  return fs_live.count(key) ? key->id : 0;
}

PlHkey pl_reg_handle_from_id(int32_t id) {
  for (int r = 0; r < 3; ++r)
    if (id == kRootIds[r])
      return &fs_roots[r];
  std::lock_guard<std::mutex> g(fs_liveLock);
  auto it = fs_ids.find(id);
  return it == fs_ids.end() ? nullptr : it->second;
}

int pl_reg_error_text(int code, char *buf, size_t size) {
  // The texts Windows gives for the numbers this store answers with.
  static const struct {
    int code;
    const char *text;
  } texts[] = {
      {PL_ERR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {PL_ERR_ACCESS_DENIED, "Access is denied."},
      {PL_ERR_INVALID_HANDLE, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {PL_ERR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
      {PL_ERR_INVALID_PARAMETER, "The parameter is incorrect."},
      {PL_ERR_MORE_DATA, "More data is available."},
      {PL_ERR_NO_MORE_ITEMS, "No more data is available."},
      {PL_ERR_CANTREAD, "The configuration registry key could not be read."},
      {PL_ERR_CANTWRITE, "The configuration registry key could not be written."},
      {PL_ERR_REGISTRY_CORRUPT, "The structure of one of the files containing registry data is corrupt, or the system's memory image of the file is corrupt, or the file could not be recovered because the alternate copy or log was absent or corrupt."},
      {PL_ERR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
  };
  for (const auto &t : texts)
    if (t.code == code) {
      if (strlen(t.text) + 2 > size)
        return 0;
      snprintf(buf, size, "%s\n", t.text);
      return 1;
    }
  return 0;
}

int pl_reg_open(PlHkey parent, const char *sub, int access, PlHkey *out) {
  std::string dir;
  int rc = fs_walk(parent, sub, false, &dir);
  if (rc)
    return rc;
  *out = fs_newKey(dir, access);
  return 0;
}

int pl_reg_create(PlHkey parent, const char *sub, int access, PlHkey *out) {
  if (!fs_valid(parent))
    return PL_ERR_INVALID_HANDLE;
  if ((parent->access & PL_REG_ALL) != PL_REG_ALL)
    return PL_ERR_ACCESS_DENIED;
  std::string dir;
  int rc = fs_walk(parent, sub, true, &dir);
  if (rc)
    return rc;
  *out = fs_newKey(dir, access);
  return 0;
}

int pl_reg_close(PlHkey key) {
  if (key >= &fs_roots[0] && key <= &fs_roots[2])
    return 0;
  {
    std::lock_guard<std::mutex> g(fs_liveLock);
    if (!key || fs_live.erase(key) == 0)
      return PL_ERR_INVALID_HANDLE;
    fs_ids.erase(key->id);
  }
  delete key;
  return 0;
}

namespace {

// The subkey or value at an index, in the store's order.
int fs_subkeyAt(PlHkey key, uint32_t index, std::string *name) {
  std::string dir;
  std::vector<std::pair<std::string, std::string>> subs;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_subkeys(dir, &subs)))
    return rc;
  if (index >= subs.size())
    return PL_ERR_NO_MORE_ITEMS;
  *name = subs[index].first;
  return 0;
}

int fs_valueAt(PlHkey key, uint32_t index, Value *value) {
  std::string dir;
  std::vector<Value> vals;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_readValues(dir, &vals)))
    return rc;
  fs_sortValues(&vals);
  if (index >= vals.size())
    return PL_ERR_NO_MORE_ITEMS;
  *value = vals[index];
  return 0;
}

// The value of that name ("" the default value).
int fs_valueNamed(PlHkey key, const std::string &name, Value *value) {
  std::string dir;
  std::vector<Value> vals;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_readValues(dir, &vals)))
    return rc;
  for (const Value &v : vals)
    if (fs_sameName(v.name, name)) {
      *value = v;
      return 0;
    }
  return PL_ERR_FILE_NOT_FOUND;
}

// Counts and longest lengths; measure turns a name or data into the
// length the caller counts in.
template <typename NameLen, typename DataLen>
int fs_info(PlHkey key, PlRegInfo *info, NameLen nameLen, DataLen dataLen) {
  std::string dir;
  std::vector<std::pair<std::string, std::string>> subs;
  std::vector<Value> vals;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_subkeys(dir, &subs)) || (rc = fs_readValues(dir, &vals)))
    return rc;
  memset(info, 0, sizeof *info);
  info->subkeys = static_cast<uint32_t>(subs.size());
  for (const auto &sk : subs)
    info->max_subkey_len = std::max(info->max_subkey_len, nameLen(sk.first));
  info->values = static_cast<uint32_t>(vals.size());
  for (const Value &v : vals) {
    info->max_value_name_len = std::max(info->max_value_name_len, nameLen(v.name));
    info->max_value_len = std::max(info->max_value_len, dataLen(v));
  }
  return 0;
}

} // namespace

int pl_reg_enum_key(PlHkey key, uint32_t index, char *name, uint32_t *name_len) {
  std::string n;
  int rc = fs_subkeyAt(key, index, &n);
  return rc ? rc : fs_copyName(n, name, name_len);
}

int pl_reg_enum_value(PlHkey key, uint32_t index, char *name, uint32_t *name_len,
                      uint32_t *type, void *data, uint32_t *data_len) {
  Value v;
  int rc = fs_valueAt(key, index, &v);
  if (rc || (rc = fs_copyName(v.name, name, name_len)))
    return rc;
  return fs_copyOut(v.data, type, v.type, data, data_len);
}

int pl_reg_query_info(PlHkey key, PlRegInfo *info) {
  return fs_info(
      key, info, [](const std::string &n) { return static_cast<uint32_t>(n.size()); },
      [](const Value &v) { return static_cast<uint32_t>(v.data.size()); });
}

int pl_reg_query_value(PlHkey key, const char *name, uint32_t *type, void *data,
                       uint32_t *data_len) {
  Value v;
  int rc = fs_valueNamed(key, name ? name : "", &v);
  return rc ? rc : fs_copyOut(v.data, type, v.type, data, data_len);
}

int pl_reg_set_value(PlHkey key, const char *name, uint32_t type, const void *data,
                     uint32_t len) {
  if (!fs_valid(key))
    return PL_ERR_INVALID_HANDLE;
  if ((key->access & PL_REG_ALL) != PL_REG_ALL)
    return PL_ERR_ACCESS_DENIED;
  std::string dir;
  std::vector<Value> vals;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_readValues(dir, &vals)))
    return rc;
  std::string want = name ? name : "";
  std::string bytes(static_cast<const char *>(data), data ? len : 0);
  bool found = false;
  for (Value &v : vals)
    if (fs_sameName(v.name, want)) {
      v.type = type;
      v.data = bytes;
      found = true;
    }
  if (!found)
    vals.push_back({want, type, bytes});
  return fs_writeValues(dir, vals);
}

int pl_reg_delete_value(PlHkey key, const char *name) {
  if (!fs_valid(key))
    return PL_ERR_INVALID_HANDLE;
  if ((key->access & PL_REG_ALL) != PL_REG_ALL)
    return PL_ERR_ACCESS_DENIED;
  std::string dir;
  std::vector<Value> vals;
  int rc = fs_keyDir(key, &dir);
  if (rc || (rc = fs_readValues(dir, &vals)))
    return rc;
  std::string want = name ? name : "";
  auto it = std::remove_if(vals.begin(), vals.end(), [&](const Value &v) { return fs_sameName(v.name, want); });
  if (it == vals.end())
    return PL_ERR_FILE_NOT_FOUND;
  vals.erase(it, vals.end());
  return fs_writeValues(dir, vals);
}

int pl_reg_delete_key(PlHkey parent, const char *sub, int access) {
  (void)access; // one view only
  if (fs_split(sub).empty())
    return PL_ERR_INVALID_PARAMETER;
  std::string dir;
  int rc = fs_walk(parent, sub, false, &dir);
  if (rc)
    return rc;
  std::vector<std::pair<std::string, std::string>> subs;
  if ((rc = fs_subkeys(dir, &subs)))
    return rc;
  if (!subs.empty())
    return PL_ERR_ACCESS_DENIED;
  DIR *d = opendir(dir.c_str());
  if (d) {
    while (struct dirent *e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
        unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
  }
  return rmdir(dir.c_str()) == 0 ? 0 : fs_errno(errno);
}

// Wide names. The store holds UTF-8; UTF-16 converts to it and back
// without loss, unpaired surrogates included (as three-byte sequences).
namespace {

std::string fs_toUtf8(const char16_t *w) {
  std::string out;
  if (!w)
    return out;
  for (const char16_t *p = w; *p; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Bytes that are not well-formed come across one unit each, unchanged.
std::u16string fs_toUtf16(const std::string &s) {
  std::u16string out;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s.data());
  size_t n = s.size();
  for (size_t i = 0; i < n;) {
    uint32_t c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k)
      ok = (p[i + k] & 0xC0) == 0x80;
    if (!ok) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    if (len == 2)
      c = ((c & 0x1F) << 6) | (p[i + 1] & 0x3F);
    else if (len == 3)
      c = ((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
    else if (len == 4)
      c = ((c & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

int fs_copyNameW(const std::string &name, char16_t *out, uint32_t *len) {
  std::u16string w = fs_toUtf16(name);
  if (!out || !len)
    return PL_ERR_INVALID_PARAMETER;
  if (w.size() >= *len)
    return PL_ERR_MORE_DATA;
  memcpy(out, w.c_str(), (w.size() + 1) * sizeof(char16_t));
  *len = static_cast<uint32_t>(w.size());
  return 0;
}

// Value data as the wide calls give it: string types in UTF-16.
std::string fs_wideData(uint32_t type, const std::string &data) {
  if (type != PL_REG_SZ && type != PL_REG_EXPAND_SZ && type != PL_REG_MULTI_SZ)
    return data;
  std::u16string w = fs_toUtf16(data);
  return std::string(reinterpret_cast<const char *>(w.data()), w.size() * sizeof(char16_t));
}

} // namespace

int pl_reg_open_w(PlHkey parent, const char16_t *sub, int access, PlHkey *out) {
  std::string s = fs_toUtf8(sub);
  return pl_reg_open(parent, s.c_str(), access, out);
}

int pl_reg_enum_key_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len) {
  std::string n;
  int rc = fs_subkeyAt(key, index, &n);
  return rc ? rc : fs_copyNameW(n, name, name_len);
}

int pl_reg_enum_value_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len,
                        uint32_t *type, void *data, uint32_t *data_len) {
  Value v;
  int rc = fs_valueAt(key, index, &v);
  if (rc || (rc = fs_copyNameW(v.name, name, name_len)))
    return rc;
  return fs_copyOut(fs_wideData(v.type, v.data), type, v.type, data, data_len);
}

int pl_reg_query_info_w(PlHkey key, PlRegInfo *info) {
  return fs_info(
      key, info, [](const std::string &n) { return static_cast<uint32_t>(fs_toUtf16(n).size()); },
      [](const Value &v) { return static_cast<uint32_t>(fs_wideData(v.type, v.data).size()); });
}

int pl_reg_query_value_w(PlHkey key, const char16_t *name, uint32_t *type, void *data,
                         uint32_t *data_len) {
  Value v;
  int rc = fs_valueNamed(key, fs_toUtf8(name), &v);
  return rc ? rc : fs_copyOut(fs_wideData(v.type, v.data), type, v.type, data, data_len);
}
