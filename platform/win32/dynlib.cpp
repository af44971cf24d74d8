#include "platform/dynlib.h"

#include <windows.h>

const char pl_dl_prefix[] = "";
const char pl_dl_suffix[] = ".dll";

int pl_dl_open(const char *path, PlDynlib **out) {
  HMODULE h = LoadLibraryA(path);
  if (!h)
    return static_cast<int>(GetLastError());
  *out = reinterpret_cast<PlDynlib *>(h);
  return 0;
}

void *pl_dl_sym(PlDynlib *lib, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
}

void pl_dl_close(PlDynlib *lib) {
  if (lib)
    FreeLibrary(reinterpret_cast<HMODULE>(lib));
}
