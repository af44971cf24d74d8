#include "platform/registry.h"

#include <cstring>
#include <windows.h>

namespace {

HKEY fs_h(PlHkey k) { return reinterpret_cast<HKEY>(k); }

REGSAM fs_sam(int access) {
  REGSAM sam = (access & PL_REG_ALL) == PL_REG_ALL ? KEY_ALL_ACCESS : KEY_READ;
  if (access & PL_REG_VIEW64)
    sam |= KEY_WOW64_64KEY;
  return sam;
}

} // namespace

PlHkey pl_reg_root(PlRegRoot root) {
  HKEY h = root == PL_HKLM ? HKEY_LOCAL_MACHINE : root == PL_HKCU ? HKEY_CURRENT_USER : HKEY_USERS;
  return reinterpret_cast<PlHkey>(h);
}

int pl_reg_open(PlHkey parent, const char *sub, int access, PlHkey *out) {
  HKEY h;
  LONG rc = RegOpenKeyExA(fs_h(parent), sub, 0, fs_sam(access), &h);
  if (rc == ERROR_SUCCESS)
    *out = reinterpret_cast<PlHkey>(h);
  return static_cast<int>(rc);
}

int pl_reg_create(PlHkey parent, const char *sub, int access, PlHkey *out) {
  HKEY h;
  LONG rc = RegCreateKeyExA(fs_h(parent), sub, 0, nullptr, REG_OPTION_NON_VOLATILE, fs_sam(access),
                            nullptr, &h, nullptr);
  if (rc == ERROR_SUCCESS)
    *out = reinterpret_cast<PlHkey>(h);
  return static_cast<int>(rc);
}

int32_t pl_reg_handle_id(PlHkey key) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(key)); }

// Predefined keys are sign-extended 32-bit values on 64-bit Windows too.
PlHkey pl_reg_handle_from_id(int32_t id) { return reinterpret_cast<PlHkey>(static_cast<intptr_t>(id)); }

int pl_reg_error_text(int code, char *buf, size_t size) {
  char *text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 1033, reinterpret_cast<char *>(&text), 0, nullptr);
  int ok = n > 0 && n < size;
  if (ok) {
    memcpy(buf, text, n);
    buf[n] = '\0';
  }
  if (text)
    LocalFree(text);
  return ok;
}

int pl_reg_close(PlHkey key) { return static_cast<int>(RegCloseKey(fs_h(key))); }

int pl_reg_open_w(PlHkey parent, const char16_t *sub, int access, PlHkey *out) {
  HKEY h;
  LONG rc = RegOpenKeyExW(fs_h(parent), reinterpret_cast<const wchar_t *>(sub), 0, fs_sam(access), &h);
  if (rc == ERROR_SUCCESS)
    *out = reinterpret_cast<PlHkey>(h);
  return static_cast<int>(rc);
}

int pl_reg_enum_key_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len) {
  DWORD len = *name_len;
  LONG rc = RegEnumKeyExW(fs_h(key), index, reinterpret_cast<wchar_t *>(name), &len, nullptr, nullptr,
                          nullptr, nullptr);
  if (rc == ERROR_SUCCESS)
    *name_len = len;
  return static_cast<int>(rc);
}

int pl_reg_enum_value_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len,
                        uint32_t *type, void *data, uint32_t *data_len) {
  DWORD len = *name_len, t = 0, dlen = data_len ? *data_len : 0;
  LONG rc = RegEnumValueW(fs_h(key), index, reinterpret_cast<wchar_t *>(name), &len, nullptr, &t,
                          static_cast<BYTE *>(data), data_len ? &dlen : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (rc == ERROR_SUCCESS)
      *name_len = len;
    if (type)
      *type = t;
    if (data_len)
      *data_len = dlen;
  }
  return static_cast<int>(rc);
}

int pl_reg_query_info_w(PlHkey key, PlRegInfo *info) {
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxVal = 0;
  LONG rc = RegQueryInfoKeyW(fs_h(key), nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr,
                             &values, &maxName, &maxVal, nullptr, nullptr);
  if (rc == ERROR_SUCCESS)
    *info = {subkeys, maxSub, values, maxName, maxVal};
  return static_cast<int>(rc);
}

int pl_reg_query_value_w(PlHkey key, const char16_t *name, uint32_t *type, void *data,
                         uint32_t *data_len) {
  DWORD t = 0, len = data_len ? *data_len : 0;
  LONG rc = RegQueryValueExW(fs_h(key), reinterpret_cast<const wchar_t *>(name), nullptr, &t,
                             static_cast<BYTE *>(data), data_len ? &len : nullptr);
  if (type)
    *type = t;
  if (data_len)
    *data_len = len;
  return static_cast<int>(rc);
}

int pl_reg_enum_key(PlHkey key, uint32_t index, char *name, uint32_t *name_len) {
  DWORD len = *name_len;
  LONG rc = RegEnumKeyExA(fs_h(key), index, name, &len, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS)
    *name_len = len;
  return static_cast<int>(rc);
}

int pl_reg_enum_value(PlHkey key, uint32_t index, char *name, uint32_t *name_len,
                      uint32_t *type, void *data, uint32_t *data_len) {
  DWORD len = *name_len, t = 0, dlen = data_len ? *data_len : 0;
  LONG rc = RegEnumValueA(fs_h(key), index, name, &len, nullptr, &t, static_cast<BYTE *>(data),
                          data_len ? &dlen : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (rc == ERROR_SUCCESS)
      *name_len = len;
    if (type)
      *type = t;
    if (data_len)
      *data_len = dlen;
  }
  return static_cast<int>(rc);
}

int pl_reg_query_info(PlHkey key, PlRegInfo *info) {
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxVal = 0;
  LONG rc = RegQueryInfoKeyA(fs_h(key), nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr,
                             &values, &maxName, &maxVal, nullptr, nullptr);
  if (rc == ERROR_SUCCESS)
    *info = {subkeys, maxSub, values, maxName, maxVal};
  return static_cast<int>(rc);
}

int pl_reg_query_value(PlHkey key, const char *name, uint32_t *type, void *data,
                       uint32_t *data_len) {
  DWORD t = 0, len = data_len ? *data_len : 0;
  LONG rc = RegQueryValueExA(fs_h(key), name, nullptr, &t, static_cast<BYTE *>(data),
                             data_len ? &len : nullptr);
  if (type)
    *type = t;
  if (data_len)
    *data_len = len;
  return static_cast<int>(rc);
}

int pl_reg_set_value(PlHkey key, const char *name, uint32_t type, const void *data, uint32_t len) {
  return static_cast<int>(RegSetValueExA(fs_h(key), name, 0, type, static_cast<const BYTE *>(data), len));
}

int pl_reg_delete_value(PlHkey key, const char *name) {
  return static_cast<int>(RegDeleteValueA(fs_h(key), name));
}

int pl_reg_delete_key(PlHkey parent, const char *sub, int access) {
  // RegDeleteKeyExA is missing before Windows XP x64; the plain call
  // serves the native view.
  if (access & PL_REG_VIEW64) {
    typedef LONG(WINAPI * DeleteEx)(HKEY, LPCSTR, REGSAM, DWORD);
    HMODULE adv = GetModuleHandleA("advapi32.dll");
    DeleteEx fn = adv ? reinterpret_cast<DeleteEx>(reinterpret_cast<void *>(GetProcAddress(adv, "RegDeleteKeyExA"))) : nullptr;
    if (fn)
      return static_cast<int>(fn(fs_h(parent), sub, KEY_WOW64_64KEY, 0));
  }
  return static_cast<int>(RegDeleteKeyA(fs_h(parent), sub));
}
