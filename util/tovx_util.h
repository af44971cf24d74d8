// tovx_util: removes what an uninstallation of the package leaves in the
// installer's registry data and on disk.
#pragma once

// The whole run; returns the exit status.
int TovxUtilMain(int argc, char **argv);

// The package's identifiers.
extern const char kProductCode[];
extern const char kPackedProductCode[];
extern const char kPackedUpgradeCode[];
extern const char *const kPackedComponentCodes[62];
