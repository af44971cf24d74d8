#include "daemon.h"

int main(int argc, char **argv) { return TcpservMain(argc, argv); }
