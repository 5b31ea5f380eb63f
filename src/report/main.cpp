#include "report_main.h"

int main(int argc, char **argv) { return ReportMain(argc, argv); }
