// The plug-in library: its entries come from the ctrlshim module; this
// unit keeps them in the shared library.
#include "ctrlshim.h"

extern "C" {
void *ctrlshim_entries[] = {reinterpret_cast<void *>(&JVM_OnLoad), reinterpret_cast<void *>(&Agent_OnLoad)};
}
