#include "objtally.h"

int main(int argc, char **argv) { return ot_main(argc, argv); }
