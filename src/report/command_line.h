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

// Reads the arguments after the program name into `options`. Returns false
// with one sentence in `problem` (always terminated, at most `size` bytes)
// when they make no sense; naming no file is left to the caller.
bool ParseReportOptions(int argc, char **argv, ReportOptions *options, char *problem, size_t size);
