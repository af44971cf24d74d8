#include "tovx_util.h"

int main(int argc, char **argv) { return TovxUtilMain(argc, argv); }
