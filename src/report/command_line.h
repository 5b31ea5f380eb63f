// The command line of vesperix-report.
#pragma once

#include "check_thresholds.h"
#include "time_window.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum class ReportFormat { kText, kCsv, kJson, kOpenMetrics };

struct ReportOptions {
    ReportFormat format = ReportFormat::kText;
    bool formatGiven = false;
    uint64_t minOutageProbes = 3;
    const char *svgPath = nullptr;
    const char *outputPath = nullptr;  // the report goes there, not to standard output
    WindowEdge since, until;
    bool nowGiven = false;
    int64_t now = 0;  // when given: the moment spans before now count back from
    bool check = false;
    CheckThresholds warning, critical;
    bool help = false, version = false;
    std::vector<char *> files;
};

extern const char kReportUsage[];

struct option;  // of <getopt.h>

// Reads the command line `argc`, `argv` into `options` the way getopt_long
// reads one: long options or any unambiguous start of them, with their value
// after "=" or as the next argument; short ones alone or run together, with
// their value attached or next; options and files in any order, and "--"
// ending the options. `argv` may be put in another order. Returns false
// with one sentence in `problem` (always terminated, at most `size` bytes)
// when they make no sense; naming no file is left to the caller, and so are
// the options that only make sense together (see CheckOptionsAgree).
bool ParseReportOptions(int argc, char **argv, ReportOptions *options, char *problem, size_t size);

// Returns true when the command line `argc`, `argv` asks for --check (in
// any form ParseReportOptions takes), so that even a command line that
// makes no sense can be answered as a check is.
bool AsksForCheck(int argc, char *const *argv);

// Returns false with one sentence in `problem` (as for ParseReportOptions)
// when `options` were each read but do not go together.
bool CheckOptionsAgree(const ReportOptions &options, char *problem, size_t size);

// Works out the window `options` ask for, counting spans back from `now`
// unless --now gave another moment. Returns false with one sentence in
// `problem` when it would hold no time at all.
bool ResolveWindow(const ReportOptions &options, int64_t now, TimeWindow *window, char *problem,
                   size_t size);

// Writes into `problem` (at most `size` bytes, always terminated) why
// `argument`, "--name" or "--name=value", names none of the long options of
// `table` (ended by a null name): none starts with the name, or several do.
void SayWhyNoLongOption(const char *argument, const option *table, char *problem, size_t size);
