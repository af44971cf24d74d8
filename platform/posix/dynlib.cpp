#include "platform/dynlib.h"

#include <cerrno>
#include <dlfcn.h>

const char pl_dl_prefix[] = "lib";
const char pl_dl_suffix[] = ".so";

int pl_dl_open(const char *path, PlDynlib **out) {
  void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h)
    return ENOENT;
  *out = static_cast<PlDynlib *>(h);
  return 0;
}

void *pl_dl_sym(PlDynlib *lib, const char *name) { return dlsym(lib, name); }

void pl_dl_close(PlDynlib *lib) {
  if (lib)
    dlclose(lib);
}
