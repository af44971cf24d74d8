// The installation: its directory from the registry, the paths derived
// from it, and the version record.
#pragma once
#include <cstddef>

#include "mwa_error.h"

// Capacity of every installation path, terminator included.
enum { MWA_PATH_MAX = 522 };
// Capacity of each version value, terminator included.
enum { MWA_VERSION_MAX = 64 };

// Looks up the installation directory, builds the derived paths and reads
// the version record. 1, or 0 with the record naming the failed call.
int mwa_sysinit(MwaErrorInfo *pErrorInfo);
// Capacity of a registry key name, terminator included.
enum { MWA_SUBKEY_MAX = 256 };
// Reads the installation directory from the registry into out
// (MWA_PATH_MAX bytes). 1, or 0 with the record naming the failed call
// and failedName (MWA_SUBKEY_MAX bytes, may be null) the key or value
// it was about ("" when the enumeration failed).
int mwa_readinstalldir(char *out, char *failedName, MwaErrorInfo *pErrorInfo);
// Builds the derived paths from a given installation directory (what
// mwa_sysinit does after the registry lookup). 0 with the record set
// (operation "mwa_joinpath") when a path would not fit.
int mwa_setinstalldir(const char *dir, MwaErrorInfo *pErrorInfo);
// Reads <installation>/etc/amc_version.properties.
int mwa_readversion(MwaErrorInfo *pErrorInfo);

const char *mwa_getinstalldir();
const char *mwa_getbindir();
const char *mwa_getagentdir();
const char *mwa_getlogfile();
const char *mwa_getversiontechnical();
const char *mwa_getversionmarketing();
const char *mwa_getversionbuild();
const char *mwa_getversionproduct();

// Appends child to parent with one separator. parent holds cap bytes; 0
// (parent unchanged) when the result would not fit.
int mwa_joinpath(char *parent, size_t cap, const char *child);
int mwa_isseparator(char c);
