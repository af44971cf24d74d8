// tovx_reg: query, add and delete keys and values of the registry
// stand-in from a shell, in the manner of the Windows reg command.
//
//   tovx_reg query  KEY [/v NAME | /ve] [/s]
//   tovx_reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   tovx_reg delete KEY [/v NAME | /ve | /va] [/f]
//
// KEY starts with HKLM, HKCU or HKU (or their long names). TYPE is
// REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ (items separated by \0),
// REG_DWORD (decimal or 0x hex) or REG_BINARY (hex digits).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

struct Args {
  std::string op, key;
  const char *value = nullptr; // null: no /v
  bool all_values = false, recurse = false;
  std::string type = "REG_SZ";
  std::string data;
};

int fs_fail(const char *what) {
  fprintf(stderr, "ERROR: %s\n", what);
  return 1;
}

bool fs_splitRoot(const std::string &key, PlHkey *root, std::string *rest, std::string *rootName) {
  size_t bs = key.find('\\');
  std::string head = key.substr(0, bs);
  for (char &c : head)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE") {
    *root = pl_reg_root(PL_HKLM);
    *rootName = "HKEY_LOCAL_MACHINE";
  } else if (head == "HKCU" || head == "HKEY_CURRENT_USER") {
    *root = pl_reg_root(PL_HKCU);
    *rootName = "HKEY_CURRENT_USER";
  } else if (head == "HKU" || head == "HKEY_USERS") {
    *root = pl_reg_root(PL_HKU);
    *rootName = "HKEY_USERS";
  } else {
    return false;
  }
  *rest = bs == std::string::npos ? "" : key.substr(bs + 1);
  return true;
}

const char *fs_typeName(uint32_t t) {
  switch (t) {
  case PL_REG_SZ: return "REG_SZ";
  case PL_REG_EXPAND_SZ: return "REG_EXPAND_SZ";
  case PL_REG_MULTI_SZ: return "REG_MULTI_SZ";
  case PL_REG_DWORD: return "REG_DWORD";
  case PL_REG_BINARY: return "REG_BINARY";
  default: return "REG_NONE";
  }
}

std::string fs_show(uint32_t type, const std::string &d) {
  char buf[16];
  switch (type) {
  case PL_REG_SZ:
  case PL_REG_EXPAND_SZ:
    return std::string(d.c_str());
  case PL_REG_MULTI_SZ: {
    std::string out;
    for (size_t pos = 0; pos < d.size() && d[pos];) {
      std::string item(d.c_str() + pos);
      if (!out.empty())
        out += "\\0";
      out += item;
      pos += item.size() + 1;
    }
    return out;
  }
  case PL_REG_DWORD:
    if (d.size() >= 4) {
      uint32_t v;
      memcpy(&v, d.data(), 4);
      snprintf(buf, sizeof buf, "0x%x", v);
      return buf;
    }
    return "";
  default: {
    std::string out;
    for (unsigned char c : d) {
      snprintf(buf, sizeof buf, "%02X", c);
      out += buf;
    }
    return out;
  }
  }
}

int fs_printKey(PlHkey k, const std::string &path, const Args &a) {
  printf("%s\n", path.c_str());
  char name[16384];
  std::vector<char> data(1 << 20);
  for (uint32_t i = 0;; ++i) {
    uint32_t nlen = sizeof name, dlen = static_cast<uint32_t>(data.size()), type = 0;
    int rc = pl_reg_enum_value(k, i, name, &nlen, &type, data.data(), &dlen);
    if (rc == PL_ERR_NO_MORE_ITEMS)
      break;
    if (rc)
      return rc;
    printf("    %s    %s    %s\n", *name ? name : "(Default)", fs_typeName(type),
           fs_show(type, std::string(data.data(), dlen)).c_str());
  }
  printf("\n");
  std::vector<std::string> subs;
  for (uint32_t i = 0;; ++i) {
    uint32_t nlen = sizeof name;
    int rc = pl_reg_enum_key(k, i, name, &nlen);
    if (rc == PL_ERR_NO_MORE_ITEMS)
      break;
    if (rc)
      return rc;
    subs.push_back(name);
  }
  for (const std::string &s : subs) {
    std::string sub = path + "\\" + s;
    if (!a.recurse) {
      printf("%s\n", sub.c_str());
      continue;
    }
    PlHkey c;
    if (pl_reg_open(k, s.c_str(), PL_REG_READ, &c) == 0) {
      int rc = fs_printKey(c, sub, a);
      pl_reg_close(c);
      if (rc)
        return rc;
    }
  }
  return 0;
}

int fs_deleteTree(PlHkey parent, const std::string &sub) {
  PlHkey k;
  int rc = pl_reg_open(parent, sub.c_str(), PL_REG_ALL, &k);
  if (rc)
    return rc;
  char name[16384];
  std::vector<std::string> subs;
  for (uint32_t i = 0;; ++i) {
    uint32_t nlen = sizeof name;
    if (pl_reg_enum_key(k, i, name, &nlen) != 0)
      break;
    subs.push_back(name);
  }
  pl_reg_close(k);
  for (const std::string &s : subs)
    if ((rc = fs_deleteTree(parent, sub + "\\" + s)))
      return rc;
  return pl_reg_delete_key(parent, sub.c_str(), 0);
}

bool fs_encodeData(const Args &a, uint32_t *type, std::string *out) {
  const std::string &t = a.type;
  if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
    *type = t == "REG_SZ" ? PL_REG_SZ : PL_REG_EXPAND_SZ;
    *out = a.data + '\0';
  } else if (t == "REG_MULTI_SZ") {
    *type = PL_REG_MULTI_SZ;
    out->clear();
    for (size_t pos = 0;;) {
      size_t sep = a.data.find("\\0", pos);
      *out += a.data.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
      *out += '\0';
      if (sep == std::string::npos)
        break;
      pos = sep + 2;
    }
    *out += '\0';
  } else if (t == "REG_DWORD") {
    *type = PL_REG_DWORD;
    char *end;
    unsigned long v = strtoul(a.data.c_str(), &end, 0);
    if (a.data.empty() || *end || v > 0xffffffffUL)
      return false;
    uint32_t d = static_cast<uint32_t>(v);
    out->assign(reinterpret_cast<const char *>(&d), 4);
  } else if (t == "REG_BINARY") {
    *type = PL_REG_BINARY;
    if (a.data.size() % 2)
      return false;
    out->clear();
    for (size_t i = 0; i < a.data.size(); i += 2) {
      char *end;
      std::string byte = a.data.substr(i, 2);
      long v = strtol(byte.c_str(), &end, 16);
      if (*end)
        return false;
      *out += static_cast<char>(v);
    }
  } else {
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3)
    return fs_fail("usage: tovx_reg query|add|delete KEY [/v NAME|/ve|/va] [/t TYPE] [/d DATA] [/s] [/f]");
  Args a;
  a.op = argv[1];
  a.key = argv[2];
  for (int i = 3; i < argc; ++i) {
    std::string o = argv[i];
    for (char &c : o)
      c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    bool hasNext = i + 1 < argc;
    if (o == "/v" && hasNext)
      a.value = argv[++i];
    else if (o == "/ve")
      a.value = "";
    else if (o == "/va")
      a.all_values = true;
    else if (o == "/t" && hasNext)
      a.type = argv[++i];
    else if (o == "/d" && hasNext)
      a.data = argv[++i];
    else if (o == "/s")
      a.recurse = true;
    else if (o == "/f")
      continue;
    else
      return fs_fail(("invalid option " + std::string(argv[i])).c_str());
  }
  PlHkey root;
  std::string sub, rootName;
  if (!fs_splitRoot(a.key, &root, &sub, &rootName))
    return fs_fail("invalid key name");
  std::string shown = rootName + (sub.empty() ? "" : "\\" + sub);
  PlHkey k = nullptr;
  int rc;
  if (a.op == "query") {
    if ((rc = pl_reg_open(root, sub.c_str(), PL_REG_READ, &k)))
      return fs_fail("the system was unable to find the specified registry key or value");
    if (a.value) {
      std::vector<char> data(1 << 20);
      uint32_t dlen = static_cast<uint32_t>(data.size()), type = 0;
      rc = pl_reg_query_value(k, a.value, &type, data.data(), &dlen);
      if (rc == 0)
        printf("%s\n    %s    %s    %s\n\n", shown.c_str(), *a.value ? a.value : "(Default)",
               fs_typeName(type), fs_show(type, std::string(data.data(), dlen)).c_str());
    } else {
      rc = fs_printKey(k, shown, a);
    }
    pl_reg_close(k);
    return rc ? fs_fail("the system was unable to find the specified registry key or value") : 0;
  }
  if (a.op == "add") {
    if ((rc = pl_reg_create(root, sub.c_str(), PL_REG_ALL, &k)))
      return fs_fail("the key could not be created");
    if (a.value) {
      uint32_t type;
      std::string bytes;
      if (!fs_encodeData(a, &type, &bytes)) {
        pl_reg_close(k);
        return fs_fail("invalid type or data");
      }
      rc = pl_reg_set_value(k, a.value, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    pl_reg_close(k);
    return rc ? fs_fail("the value could not be set") : 0;
  }
  if (a.op == "delete") {
    if (a.value || a.all_values) {
      if ((rc = pl_reg_open(root, sub.c_str(), PL_REG_ALL, &k)))
        return fs_fail("the system was unable to find the specified registry key or value");
      if (a.all_values) {
        char name[16384];
        for (;;) {
          uint32_t nlen = sizeof name;
          if (pl_reg_enum_value(k, 0, name, &nlen, nullptr, nullptr, nullptr) != 0 ||
              pl_reg_delete_value(k, name) != 0)
            break;
        }
        rc = 0;
      } else {
        rc = pl_reg_delete_value(k, a.value);
      }
      pl_reg_close(k);
    } else {
      rc = sub.empty() ? PL_ERR_ACCESS_DENIED : fs_deleteTree(root, sub);
    }
    return rc ? fs_fail("the system was unable to find the specified registry key or value") : 0;
  }
  return fs_fail("unknown operation");
}
