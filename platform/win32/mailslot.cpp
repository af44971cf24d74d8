#include "platform/mailslot.h"

#include <cerrno>

#include "internal.h"

struct PlMailslot {
  HANDLE h;
};

int pl_mailslot_open(const char *name, PlMailslot **out) {
  HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return pl_win_errno(GetLastError());
  *out = new PlMailslot{h};
  return 0;
}

int pl_mailslot_write(PlMailslot *slot, const void *data, size_t len) {
  DWORD written = 0;
  if (!WriteFile(slot->h, data, static_cast<DWORD>(len), &written, nullptr))
    return pl_win_errno(GetLastError());
  return written == len ? 0 : EIO;
}

int pl_mailslot_create(const char *name, PlMailslot **out) {
  HANDLE h = CreateMailslotA(name, 0, MAILSLOT_WAIT_FOREVER, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_ALREADY_EXISTS ? EADDRINUSE : pl_win_errno(e);
  }
  *out = new PlMailslot{h};
  return 0;
}

int pl_mailslot_read(PlMailslot *slot, void *buf, size_t size, int timeout_ms,
                     size_t *got, int *err) {
  SetMailslotInfo(slot->h, timeout_ms < 0 ? MAILSLOT_WAIT_FOREVER : static_cast<DWORD>(timeout_ms));
  DWORD n = 0;
  if (!ReadFile(slot->h, buf, static_cast<DWORD>(size), &n, nullptr)) {
    DWORD e = GetLastError();
    if (e == ERROR_SEM_TIMEOUT)
      return 0;
    *err = pl_win_errno(e);
    return -1;
  }
  *got = n;
  return 1;
}

void pl_mailslot_close(PlMailslot *slot) {
  if (!slot)
    return;
  CloseHandle(slot->h);
  delete slot;
}
