// The program vesperix-report: what the daily logs of vesperix say.
#pragma once

// Runs the report for the command line `argc`, `argv`. Returns the exit
// status: 0 when the report was written, 1 for a command line that makes no
// sense, 2 when a log could not be read or the output not written; with
// --check, that of the state it found (see plugin_check.h).
int ReportMain(int argc, char **argv);
