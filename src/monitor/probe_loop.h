// The monitor's entry point: the command line, start-up, the probe cycles and
// shutdown.
#pragma once

// Runs the monitor for the arguments of main() and returns its exit status:
// 0 after a stop event, 1 without a target or with one the daily log can't
// hold, 2 when no echo handle can be made.
int MonitorMain(int argc, char **argv);
