// Breaks a precondition of the base library on purpose: with the debug
// switch set the check ends the process with status 3.
#include "mwa_array.h"

int main() { return MwaArray_new(0) == nullptr ? 0 : 1; }
