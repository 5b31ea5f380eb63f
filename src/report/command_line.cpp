#include "command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

const char kReportUsage[] =
    "Usage: vesperix-report [-f text|csv|json|openmetrics] [-m N] [-s TIME] [-u TIME] [-o FILE]\n"
    "                       [--svg FILE] [--] FILE...\n"
    "       vesperix-report --check [-w RTA,PL%] [-c RTA,PL%] [-m N] [-s TIME] [-u TIME] [--] FILE...\n";

namespace {

// The longest run of failures an outage may be asked to need.
const uint64_t kMostOutageProbes = 1000000000;

// The options without a short form: their codes lie beyond every character.
const int kSvgOption = 256;
const int kNowOption = 257;
const int kCheckOption = 258;

const char kShortOptions[] = ":f:m:s:u:o:w:c:hV";  // ':' first: a missing value returns ':'
const option kLongOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"min-outage", required_argument, nullptr, 'm'},
    {"since", required_argument, nullptr, 's'},
    {"until", required_argument, nullptr, 'u'},
    {"now", required_argument, nullptr, kNowOption},
    {"output", required_argument, nullptr, 'o'},
    {"svg", required_argument, nullptr, kSvgOption},
    {"check", no_argument, nullptr, kCheckOption},
    {"warning", required_argument, nullptr, 'w'},
    {"critical", required_argument, nullptr, 'c'},
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
    case 'f': std::snprintf(problem, size, "--format takes text, csv or json, or openmetrics"); break;
    case 'm':
        std::snprintf(problem, size, "--min-outage takes a number of probes from 1 to %llu",
                      static_cast<unsigned long long>(kMostOutageProbes));
        break;
    case 's':
    case 'u':
        std::snprintf(problem, size,
                      "--%s takes a UTC time (2026-12-01T10:00:00Z, 2026-12-01) or a span before "
                      "now (15m, 24h, 7d)",
                      entry->name);
        break;
    case kNowOption:
        std::snprintf(problem, size, "--now takes a UTC time (2026-12-01T10:00:00Z, 2026-12-01)");
        break;
    case 'w':
    case 'c':
        std::snprintf(problem, size,
                      "--%s takes RTA,PL%% or RTA,PL%%,AV%%: a round trip in ms, then per cents",
                      entry->name);
        break;
    case 'o':
    case kSvgOption:
        std::snprintf(problem, size, "--%s takes the name of the file to write", entry->name);
        break;
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
        } else if (std::strcmp(value, "openmetrics") == 0) {
            options->format = ReportFormat::kOpenMetrics;
        } else {
            return false;
        }
        options->formatGiven = true;
        return true;
    case 'm': return ReadProbeCount(value, &options->minOutageProbes);
    case 's': return ParseWindowEdge(value, &options->since);
    case 'u': return ParseWindowEdge(value, &options->until);
    case kNowOption: return options->nowGiven = ParseMoment(value, &options->now);
    case 'w': return ParseThresholds(value, &options->warning);
    case 'c': return ParseThresholds(value, &options->critical);
    case 'o':
        options->outputPath = value;
        return value[0] != '\0';
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
        } else if (code == kCheckOption) {
            options->check = true;
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

bool AsksForCheck(int argc, char *const *argv) {
    for (int at = 1; at < argc; ++at) {
        const char *argument = argv[at];
        if (std::strcmp(argument, "--") == 0) return false;
        if (std::strncmp(argument, "--", 2) != 0) continue;
        // "--ch" is the shortest start that only --check has.
        const size_t length = std::strcspn(argument + 2, "=");
        if (length >= 2 && length <= 5 && std::strncmp(argument + 2, "check", length) == 0) return true;
    }
    return false;
}

bool CheckOptionsAgree(const ReportOptions &options, char *problem, size_t size) {
    const CheckThresholds &warning = options.warning, &critical = options.critical;
    if (!options.check && (warning.given || critical.given)) {
        std::snprintf(problem, size, "--warning and --critical go with --check");
        return false;
    }
    if (options.check && (options.formatGiven || options.outputPath != nullptr ||
                          options.svgPath != nullptr)) {
        std::snprintf(problem, size,
                      "--check writes one status line: it takes no --format, --output or --svg");
        return false;
    }
    if (warning.given && critical.given &&
        (warning.rttThousandths > critical.rttThousandths ||
         warning.lossThousandths > critical.lossThousandths ||
         (warning.hasAvailability && critical.hasAvailability &&
          warning.availabilityThousandths < critical.availabilityThousandths))) {
        std::snprintf(problem, size,
                      "--warning must not ask for more than --critical: no larger round trip or "
                      "loss, no smaller availability");
        return false;
    }
    return true;
}

bool ResolveWindow(const ReportOptions &options, int64_t now, TimeWindow *window, char *problem,
                   size_t size) {
    const int64_t from = options.nowGiven ? options.now : now;
    TimeWindow resolved;
    if (options.since.given) {
        resolved.hasSince = true;
        resolved.since = EdgeMoment(options.since, from);
    }
    if (options.until.given) {
        resolved.hasUntil = true;
        resolved.until = EdgeMoment(options.until, from);
    }
    if (resolved.since >= resolved.until) {
        std::snprintf(problem, size, "--since must lie before --until");
        return false;
    }
    *window = resolved;
    return true;
}
