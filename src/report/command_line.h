// The command line of vesperix-report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class ReportFormat { kText, kCsv, kJson };

struct ReportOptions {
    ReportFormat format = ReportFormat::kText;
    uint64_t minOutageProbes = 3;
    const char *svgPath = nullptr;
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
// when they make no sense; naming no file is left to the caller.
bool ParseReportOptions(int argc, char **argv, ReportOptions *options, char *problem, size_t size);

// Writes into `problem` (at most `size` bytes, always terminated) why
// `argument`, "--name" or "--name=value", names none of the long options of
// `table` (ended by a null name): none starts with the name, or several do.
void SayWhyNoLongOption(const char *argument, const option *table, char *problem, size_t size);
