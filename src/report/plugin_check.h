// vesperix-report --check: the daily logs judged as a monitoring plugin
// (Nagios, Icinga, Naemon) judges a service, in the form of the Monitoring
// Plugins Development Guidelines: one status line,
// "VESPERIX STATE - text|perfdata", and the state as the exit status.
#pragma once

#include "command_line.h"
#include "time_window.h"

#include <cstdio>

enum class CheckState { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

// Writes the status line of an UNKNOWN state for `problem` (one sentence)
// to `out`. Returns the exit status, 3.
int ReportCheckProblem(FILE *out, const char *problem);

// Reads the logs that `options` name, keeping to `window`, and judges each
// target in them: CRITICAL when an outage is open or a figure passes a
// threshold of --critical, else WARNING when one passes a threshold of
// --warning, else OK; the worst target's state is the check's. No row in
// the window, or a log that can't be read, is UNKNOWN. Writes the status
// line to `out`; returns the state's exit status.
int RunCheck(FILE *out, const ReportOptions &options, const TimeWindow &window);
