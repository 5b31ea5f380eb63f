#include "command_line.h"

#include <cstdio>
#include <cstring>

const char kReportUsage[] =
    "Usage: vesperix-report [--format text|csv|json] [--min-outage N] [--svg FILE] FILE...\n";

namespace {

// The longest run of failures an outage may be asked to need.
const uint64_t kMostOutageProbes = 1000000000;

// Returns the value of option `name` at argv[*at]: after its "=", or the
// next argument (then *at moves to it). Null when there is none.
const char *OptionValue(const char *name, int argc, char **argv, int *at) {
    const char *argument = argv[*at];
    const size_t length = std::strlen(name);
    if (argument[length] == '=') return argument + length + 1;
    if (*at + 1 >= argc) return nullptr;
    return argv[++*at];
}

// Returns true when argv[at] is option `name`, alone or as "name=value".
bool IsOption(const char *argument, const char *name) {
    const size_t length = std::strlen(name);
    return std::strncmp(argument, name, length) == 0 &&
           (argument[length] == '\0' || argument[length] == '=');
}

// Reads a whole decimal number from 1 to kMostOutageProbes.
bool ReadProbeCount(const char *text, uint64_t *count) {
    uint64_t value = 0;
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > kMostOutageProbes) return false;
    }
    *count = value;
    return value >= 1;
}

}  // namespace

bool ParseReportOptions(int argc, char **argv, ReportOptions *options, char *problem, size_t size) {
    bool onlyFiles = false;
    for (int at = 1; at < argc; ++at) {
        const char *argument = argv[at];
        if (onlyFiles || argument[0] != '-' || argument[1] == '\0') {
            options->files.push_back(argv[at]);
        } else if (std::strcmp(argument, "--") == 0) {
            onlyFiles = true;
        } else if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) {
            options->help = true;
        } else if (std::strcmp(argument, "--version") == 0) {
            options->version = true;
        } else if (IsOption(argument, "--format")) {
            const char *value = OptionValue("--format", argc, argv, &at);
            if (value != nullptr && std::strcmp(value, "text") == 0) {
                options->format = ReportFormat::kText;
            } else if (value != nullptr && std::strcmp(value, "csv") == 0) {
                options->format = ReportFormat::kCsv;
            } else if (value != nullptr && std::strcmp(value, "json") == 0) {
                options->format = ReportFormat::kJson;
            } else {
                std::snprintf(problem, size, "--format takes text, csv or json");
                return false;
            }
        } else if (IsOption(argument, "--min-outage")) {
            const char *value = OptionValue("--min-outage", argc, argv, &at);
            if (value == nullptr || !ReadProbeCount(value, &options->minOutageProbes)) {
                std::snprintf(problem, size, "--min-outage takes a number of probes from 1 to %llu",
                              static_cast<unsigned long long>(kMostOutageProbes));
                return false;
            }
        } else if (IsOption(argument, "--svg")) {
            options->svgPath = OptionValue("--svg", argc, argv, &at);
            if (options->svgPath == nullptr || options->svgPath[0] == '\0') {
                std::snprintf(problem, size, "--svg takes the name of the file to write");
                return false;
            }
        } else {
            std::snprintf(problem, size, "unknown option %.80s", argument);
            return false;
        }
    }
    return true;
}
