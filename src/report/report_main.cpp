#include "report_main.h"

#include "command_line.h"
#include "read_logs.h"
#include "report_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "Reads daily logs of vesperix (YYYY-MM-DD.tsv) and reports per target: probes,\n"
    "losses, availability, round-trip times, outages and each UTC hour.\n"
    "\n"
    "  -f, --format=text|csv|json  the form of the report on standard output (text)\n"
    "  -m, --min-outage=N          failed probes in a row that make an outage (3)\n"
    "      --svg=FILE              also write a chart of each target to FILE\n"
    "  -h, --help                  this text\n"
    "  -V, --version               the version\n"
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

}  // namespace

int ReportMain(int argc, char **argv) {
    ReportOptions options;
    char problem[160];
    if (!ParseReportOptions(argc, argv, &options, problem, sizeof problem)) {
        std::fprintf(stderr, "vesperix-report: %s\n%s", problem, kReportUsage);
        return 1;
    }
    if (options.help) {
        std::printf("%s\n%s", kReportUsage, kHelp);
        return 0;
    }
    if (options.version) {
        std::printf("vesperix-report %s\n", VESPERIX_VERSION);
        return 0;
    }
    if (options.files.empty()) {
        std::fprintf(stderr, "vesperix-report: no daily log named\n%s", kReportUsage);
        return 1;
    }
    LogSummary summary;
    summary.minOutageProbes = options.minOutageProbes;
    const int count = static_cast<int>(options.files.size());
    if (!AddLogFiles(&summary, options.files.data(), count, stderr)) return 2;
    if (!ReadLogFiles(&summary, stderr)) return 2;
    if (options.svgPath != nullptr && !WriteChartFile(options.svgPath, summary)) return 2;
    switch (options.format) {
    case ReportFormat::kText: WriteTextReport(stdout, summary); break;
    case ReportFormat::kCsv: WriteCsvReport(stdout, summary); break;
    case ReportFormat::kJson: WriteJsonReport(stdout, summary); break;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "vesperix-report: cannot write the report: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}
