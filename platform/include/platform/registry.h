// The registry: keys holding subkeys and typed values. On Windows the
// real registry; on POSIX a store of ours on disk (docs/ARCHITECTURE.md).
// Every routine returns a Windows error number: 0 on success.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlRegKey;
typedef PlRegKey *PlHkey;

enum PlRegRoot { PL_HKLM, PL_HKCU, PL_HKU };
PlHkey pl_reg_root(PlRegRoot root);

// Access of an open key, and the view flag (64-bit view; no meaning on
// POSIX, where there is only one view).
enum {
  PL_REG_READ = 1,
  PL_REG_ALL = 3,
  PL_REG_VIEW64 = 0x100,
};

// Value types, with the Windows numbers.
enum {
  PL_REG_NONE = 0,
  PL_REG_SZ = 1,
  PL_REG_EXPAND_SZ = 2,
  PL_REG_BINARY = 3,
  PL_REG_DWORD = 4,
  PL_REG_MULTI_SZ = 7,
};

// The Windows error numbers the registry answers with.
enum {
  PL_ERR_FILE_NOT_FOUND = 2,
  PL_ERR_ACCESS_DENIED = 5,
  PL_ERR_INVALID_HANDLE = 6,
  PL_ERR_OUTOFMEMORY = 14,
  PL_ERR_INVALID_PARAMETER = 87,
  PL_ERR_MORE_DATA = 234,
  PL_ERR_NO_MORE_ITEMS = 259,
  PL_ERR_BADDB = 1009,
  PL_ERR_BADKEY = 1010,
  PL_ERR_CANTREAD = 1012,
  PL_ERR_CANTWRITE = 1013,
  PL_ERR_REGISTRY_CORRUPT = 1015,
  PL_ERR_KEY_DELETED = 1018,
};

struct PlRegInfo {
  uint32_t subkeys;
  uint32_t max_subkey_len;  // characters, without the terminator
  uint32_t values;
  uint32_t max_value_name_len;
  uint32_t max_value_len;   // bytes
};

// A key as a 32-bit integer, as Java code holds it: the roots are
// Windows' predefined values (HKEY_LOCAL_MACHINE 0x80000002 ...). An id
// that names no open key gives a handle every call refuses.
int32_t pl_reg_handle_id(PlHkey key);
PlHkey pl_reg_handle_from_id(int32_t id);
// The system's text for a registry error number, US English, with its
// line end; 0 when there is none (buf untouched).
int pl_reg_error_text(int code, char *buf, size_t size);

int pl_reg_open(PlHkey parent, const char *sub, int access, PlHkey *out);
// Wide (UTF-16) names. Lengths are in UTF-16 units; the string data of
// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ values comes back as UTF-16.
int pl_reg_open_w(PlHkey parent, const char16_t *sub, int access, PlHkey *out);
int pl_reg_enum_key_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len);
int pl_reg_enum_value_w(PlHkey key, uint32_t index, char16_t *name, uint32_t *name_len,
                        uint32_t *type, void *data, uint32_t *data_len);
int pl_reg_query_info_w(PlHkey key, PlRegInfo *info);
int pl_reg_query_value_w(PlHkey key, const char16_t *name, uint32_t *type, void *data,
                         uint32_t *data_len);
// Opens the key, creating it and any missing key above it.
int pl_reg_create(PlHkey parent, const char *sub, int access, PlHkey *out);
// Closes an opened key: PL_ERR_INVALID_HANDLE for one that is not open.
int pl_reg_close(PlHkey key);

// Subkey name at index (in the store's order). *name_len: buffer size in
// characters on entry, name length without terminator on success.
// PL_ERR_MORE_DATA when the buffer is short, PL_ERR_NO_MORE_ITEMS past
// the end.
int pl_reg_enum_key(PlHkey key, uint32_t index, char *name, uint32_t *name_len);
// Value at index: name as above; type, data and *data_len (bytes) as in
// pl_reg_query_value. Any of type, data, data_len may be null.
int pl_reg_enum_value(PlHkey key, uint32_t index, char *name, uint32_t *name_len,
                      uint32_t *type, void *data, uint32_t *data_len);
int pl_reg_query_info(PlHkey key, PlRegInfo *info);

// Reads a value ("" or null: the default value). *data_len: buffer size
// on entry, the value's size on return; PL_ERR_MORE_DATA when it does not
// fit (data then unspecified). data may be null to ask for the size.
int pl_reg_query_value(PlHkey key, const char *name, uint32_t *type, void *data,
                       uint32_t *data_len);
int pl_reg_set_value(PlHkey key, const char *name, uint32_t type, const void *data,
                     uint32_t len);
int pl_reg_delete_value(PlHkey key, const char *name);
// Deletes a key that has no subkeys (PL_ERR_ACCESS_DENIED otherwise).
int pl_reg_delete_key(PlHkey parent, const char *sub, int access);
