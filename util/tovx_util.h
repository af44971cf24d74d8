// tovx_util: removes what an uninstallation of the package leaves in the
// installer's registry data and on disk.
#pragma once
#include <string>

// The whole run; returns the exit status.
int TovxUtilMain(int argc, char **argv);

// The product icon path after expansion of a leading %NAME%.
std::string TovxExpandIcon(const std::string &icon);

// The package's identifiers.
extern const char kProductCode[];
extern const char kPackedProductCode[];
extern const char kPackedUpgradeCode[];
extern const char *const kPackedComponentCodes[62];
