#include "memsnap.h"

int main(int argc, char **argv) { return ms_main(argc, argv); }
