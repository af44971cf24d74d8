// Loading shared libraries by path and finding their exports.
#pragma once

struct PlDynlib;

// 0 or an error number (the system's).
int pl_dl_open(const char *path, PlDynlib **out);
// The export of that exact name, or null.
void *pl_dl_sym(PlDynlib *lib, const char *name);
void pl_dl_close(PlDynlib *lib);
// File name of a shared library called base ("libbase.so", "base.dll").
extern const char pl_dl_prefix[];
extern const char pl_dl_suffix[];
