#include "probe_loop.h"

int main(int argc, char **argv) { return MonitorMain(argc, argv); }
