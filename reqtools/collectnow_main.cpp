#include "collectnow.h"

int main(int argc, char **argv) { return cn_main(argc, argv); }
