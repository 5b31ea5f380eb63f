#include "report_main.h"

#include "command_line.h"
#include "output_file.h"
#include "plugin_check.h"
#include "read_logs.h"
#include "report_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char kHelp[] =
    "Reads daily logs of vesperix (YYYY-MM-DD.tsv) and reports per target: probes,\n"
    "losses, availability, round-trip times, outages and each UTC hour.\n"
    "\n"
    "  -f, --format=FORM           the form of the report: text, csv, json, or\n"
    "                              openmetrics for Prometheus (text)\n"
    "  -m, --min-outage=N          failed probes in a row that make an outage (3)\n"
    "  -s, --since=TIME            only the rows from TIME on\n"
    "  -u, --until=TIME            only the rows before TIME\n"
    "      --now=TIME              the moment that spans count back from (the clock)\n"
    "  -o, --output=FILE           write the report to FILE, which it replaces whole\n"
    "      --svg=FILE              also write a chart of each target to FILE\n"
    "      --check                 judge each target as a monitoring plugin does:\n"
    "                              one status line, exit status 0 OK, 1 WARNING,\n"
    "                              2 CRITICAL, 3 UNKNOWN\n"
    "  -w, --warning=RTA,PL%       with --check: WARNING above a mean round trip of\n"
    "                              RTA ms or a loss of PL%; \",AV%\" after them adds\n"
    "                              an availability below AV%\n"
    "  -c, --critical=RTA,PL%      with --check: CRITICAL in the same way\n"
    "  -h, --help                  this text\n"
    "  -V, --version               the version\n"
    "\n"
    "TIME is in UTC: 2026-12-01T10:00:00Z, or a date alone, 2026-12-01, its\n"
    "midnight; or a span before now: 90s, 15m, 24h, 7d. An open outage is always\n"
    "CRITICAL; no row in the window, or a log that can't be read, UNKNOWN.\n"
    "\n"
    "A long option may be cut short to any start no other shares, and takes its\n"
    "value after \"=\" or as the next argument; \"--\" ends the options.\n";

// Writes the chart to `path`. Returns false after saying why on standard
// error, leaving no partial file.
bool WriteChartFile(const char *path, const LogSummary &summary) {
    FILE *chart = std::fopen(path, "wb");
    if (chart == nullptr) {
        std::fprintf(stderr, "vesperix-report: %s: cannot write the chart: %s\n", path,
                     std::strerror(errno));
        return false;
    }
    WriteSvgChart(chart, summary);
    const bool failed = std::ferror(chart) != 0;
    if (std::fclose(chart) != 0 || failed) {
        std::fprintf(stderr, "vesperix-report: %s: cannot write the chart: %s\n", path,
                     std::strerror(errno));
        std::remove(path);
        return false;
    }
    return true;
}

// Writes the report of `summary` in `format` to `out`.
void WriteReport(FILE *out, ReportFormat format, const LogSummary &summary) {
    switch (format) {
    case ReportFormat::kText: WriteTextReport(out, summary); break;
    case ReportFormat::kCsv: WriteCsvReport(out, summary); break;
    case ReportFormat::kJson: WriteJsonReport(out, summary); break;
    case ReportFormat::kOpenMetrics: WriteOpenMetricsReport(out, summary); break;
    }
}

// Writes the report to `path`, which it replaces whole, or not at all: a
// textfile collector must never read half of one. Returns false after
// saying why on standard error.
bool WriteReportFile(const char *path, ReportFormat format, const LogSummary &summary) {
    ReplacingFile file;
    if (StartReplacing(path, &file)) {
        WriteReport(file.stream, format, summary);
        if (FinishReplacing(&file)) return true;
    }
    std::fprintf(stderr, "vesperix-report: %s: cannot write the report: %s\n", path,
                 std::strerror(errno));
    return false;
}

// Says that the command line makes no sense, as a check does when it asks
// for one. Returns the exit status.
int RefuseCommandLine(bool check, const char *problem) {
    if (check) return ReportCheckProblem(stdout, problem);
    std::fprintf(stderr, "vesperix-report: %s\n%s", problem, kReportUsage);
    return 1;
}

}  // namespace

int ReportMain(int argc, char **argv) {
    ReportOptions options;
    char problem[160];
    // Even a check whose command line makes no sense answers as a check.
    const bool check = AsksForCheck(argc, argv);
    if (!ParseReportOptions(argc, argv, &options, problem, sizeof problem)) {
        return RefuseCommandLine(check, problem);
    }
    if (options.help) {
        std::printf("%s\n%s", kReportUsage, kHelp);
        return 0;
    }
    if (options.version) {
        std::printf("vesperix-report %s\n", VESPERIX_VERSION);
        return 0;
    }
    TimeWindow window;
    if (!CheckOptionsAgree(options, problem, sizeof problem) ||
        !ResolveWindow(options, static_cast<int64_t>(std::time(nullptr)), &window, problem,
                       sizeof problem)) {
        return RefuseCommandLine(check, problem);
    }
    if (options.check) return RunCheck(stdout, options, window);
    if (options.files.empty()) return RefuseCommandLine(false, "no daily log named");
    LogSummary summary;
    summary.minOutageProbes = options.minOutageProbes;
    summary.window = window;
    const int count = static_cast<int>(options.files.size());
    if (!AddLogFiles(&summary, options.files.data(), count, stderr)) return 2;
    if (!ReadLogFiles(&summary, stderr, nullptr)) return 2;
    if (options.svgPath != nullptr && !WriteChartFile(options.svgPath, summary)) return 2;
    if (options.outputPath != nullptr) {
        return WriteReportFile(options.outputPath, options.format, summary) ? 0 : 2;
    }
    WriteReport(stdout, options.format, summary);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "vesperix-report: cannot write the report: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}
