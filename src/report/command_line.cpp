#include "command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

const char kReportUsage[] =
    "Usage: vesperix-report [-f text|csv|json] [-m N] [--svg FILE] [--] FILE...\n";

namespace {

// The longest run of failures an outage may be asked to need.
const uint64_t kMostOutageProbes = 1000000000;

// --svg has no short form: its code lies beyond every character.
const int kSvgOption = 256;

const char kShortOptions[] = ":f:m:hV";  // ':' first: a missing value returns ':'
const option kLongOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"min-outage", required_argument, nullptr, 'm'},
    {"svg", required_argument, nullptr, kSvgOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Returns the entry of kLongOptions whose code is `code`, or null.
const option *OptionOf(int code) {
    for (const option *entry = kLongOptions; entry->name != nullptr; ++entry) {
        if (entry->val == code) return entry;
    }
    return nullptr;
}

// Writes what option `entry` takes into `problem`: the sentence for a value
// that is missing or makes no sense.
void SayWhatItTakes(const option *entry, char *problem, size_t size) {
    switch (entry->val) {
    case 'f': std::snprintf(problem, size, "--format takes text, csv or json"); break;
    case 'm':
        std::snprintf(problem, size, "--min-outage takes a number of probes from 1 to %llu",
                      static_cast<unsigned long long>(kMostOutageProbes));
        break;
    case kSvgOption: std::snprintf(problem, size, "--svg takes the name of the file to write"); break;
    default: std::snprintf(problem, size, "--%s takes no value", entry->name); break;
    }
}

}  // namespace

void SayWhyNoLongOption(const char *argument, const option *table, char *problem, size_t size) {
    const char *name = argument + 2;
    const int length = static_cast<int>(std::strcspn(name, "="));
    char starting[96] = "";
    int matches = 0;
    for (const option *entry = table; entry->name != nullptr; ++entry) {
        if (std::strncmp(entry->name, name, static_cast<size_t>(length)) != 0) continue;
        const size_t used = std::strlen(starting);
        std::snprintf(starting + used, sizeof starting - used, "%s--%s", matches == 0 ? "" : ", ",
                      entry->name);
        ++matches;
    }
    if (matches > 1) {
        std::snprintf(problem, size, "ambiguous option --%.*s: could be %s", length, name, starting);
    } else {
        std::snprintf(problem, size, "unknown option --%.*s", length, name);
    }
}

namespace {

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

// Takes `value` of the option with code `code` into `options`. Returns
// false when it makes no sense.
bool TakeValue(int code, const char *value, ReportOptions *options) {
    switch (code) {
    case 'f':
        if (std::strcmp(value, "text") == 0) {
            options->format = ReportFormat::kText;
        } else if (std::strcmp(value, "csv") == 0) {
            options->format = ReportFormat::kCsv;
        } else if (std::strcmp(value, "json") == 0) {
            options->format = ReportFormat::kJson;
        } else {
            return false;
        }
        return true;
    case 'm': return ReadProbeCount(value, &options->minOutageProbes);
    case kSvgOption:
        options->svgPath = value;
        return value[0] != '\0';
    }
    return false;
}

}  // namespace

bool ParseReportOptions(int argc, char **argv, ReportOptions *options, char *problem, size_t size) {
    // getopt_long keeps its place in globals: 0 starts it afresh, in the C
    // library of Linux and of mingw-w64 alike. It says nothing itself, so
    // that every problem reads the same on each.
    optind = 0;
    opterr = 0;
    for (;;) {
        const int code = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (code == -1) break;
        const option *entry = OptionOf(code);
        if (code == 'h') {
            options->help = true;
        } else if (code == 'V') {
            options->version = true;
        } else if (entry != nullptr) {
            if (!TakeValue(code, optarg, options)) {
                SayWhatItTakes(entry, problem, size);
                return false;
            }
        } else if ((entry = OptionOf(optopt)) != nullptr && optopt != 0) {
            // A value missing, or given to an option that takes none.
            SayWhatItTakes(entry, problem, size);
            return false;
        } else if (optopt > ' ' && optopt < 0x7F) {
            std::snprintf(problem, size, "unknown option -%c", optopt);
            return false;
        } else if (optopt != 0) {
            std::snprintf(problem, size, "unknown option: a character %d", optopt);
            return false;
        } else {
            SayWhyNoLongOption(argv[optind - 1], kLongOptions, problem, size);
            return false;
        }
    }
    for (int at = optind; at < argc; ++at) options->files.push_back(argv[at]);
    return true;
}
