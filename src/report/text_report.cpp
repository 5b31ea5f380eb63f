#include "calendar.h"
#include "figures.h"
#include "report_output.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

namespace {

// Returns the number of decimal digits of `value`.
int DigitsOf(uint64_t value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Writes the first line: which logs, which days, how many rows.
void WriteHeading(FILE *out, const LogSummary &summary) {
    uint64_t rows = 0, skipped = 0;
    for (const LogFile &file : summary.files) {
        rows += file.rows;
        skipped += file.skipped;
    }
    const size_t count = summary.files.size();
    char first[32], last[32];
    FormatUtc(summary.files.front().day * kSecondsPerDay, UtcStyle::kDate, first, sizeof first);
    FormatUtc(summary.files.back().day * kSecondsPerDay, UtcStyle::kDate, last, sizeof last);
    std::fprintf(out, "%zu daily log%s, %s%s%s: %" PRIu64 " rows, %" PRIu64 " skipped\n", count,
                 count == 1 ? "" : "s", first, std::strcmp(first, last) == 0 ? "" : " to ",
                 std::strcmp(first, last) == 0 ? "" : last, rows, skipped);
}

// Writes what was seen of `target` as a whole.
void WriteTargetSummary(FILE *out, const LogSummary &summary, const TargetSummary &target) {
    const TargetFigures figures = FigureTarget(target);
    char first[32], last[32], observed[32], down[32];
    FormatUtc(target.firstTime, UtcStyle::kReadable, first, sizeof first);
    FormatUtc(target.lastTime, UtcStyle::kReadable, last, sizeof last);
    FormatDuration(target.observedSeconds, observed, sizeof observed);
    FormatDuration(target.downSeconds, down, sizeof down);
    std::fprintf(out, "\n%s\n", target.target.c_str());
    std::fprintf(out, "  probes        %" PRIu64 ", answered %" PRIu64 ", lost %" PRIu64 " (%.3f%%)\n",
                 target.probes, target.answered, target.lost, figures.lossPercent);
    std::fprintf(out, "  period        %s to %s UTC\n", first, last);
    if (target.gaps == 0) {
        std::fprintf(out, "  observed      %s between probes, no gaps in the log\n", observed);
    } else {
        std::fprintf(out, "  observed      %s between probes, %" PRIu64 " gap%s in the log\n",
                     observed, target.gaps, target.gaps == 1 ? "" : "s");
    }
    const size_t outages = target.outages.size();
    std::fprintf(out, "  down          %s in %zu outage%s\n", down, outages, outages == 1 ? "" : "s");
    if (figures.availabilityKnown) {
        std::fprintf(out, "  availability  %.3f%%\n", figures.availabilityPercent);
    } else {
        std::fprintf(out, "  availability  - (no time observed between probes)\n");
    }
    const RttFigures &rtt = figures.rtt;
    if (rtt.known) {
        std::fprintf(out,
                     "  rtt           min %" PRIu32 " ms, mean %.2f ms, median %" PRIu32
                     " ms, p95 %" PRIu32 " ms, p99 %" PRIu32 " ms, max %" PRIu32 " ms\n"
                     "                mean deviation %.2f ms\n",
                     rtt.minMs, rtt.meanMs, rtt.medianMs, rtt.p95Ms, rtt.p99Ms, rtt.maxMs,
                     rtt.meanDeviationMs);
    } else {
        std::fprintf(out, "  rtt           - (no answers)\n");
    }
    const auto texts = FailureTexts(target);
    const int width = texts.empty() ? 1 : DigitsOf(texts.front().second);
    const char *label = "  failures      ";
    for (const auto &text : texts) {
        std::fprintf(out, "%s%*" PRIu64 "  %s\n", label, width, text.second,
                     summary.texts[text.first].c_str());
        label = "                ";
    }
}

// Writes the table of the outages of `target`.
void WriteOutages(FILE *out, const LogSummary &summary, const TargetSummary &target) {
    const size_t count = target.outages.size();
    const uint64_t least = summary.minOutageProbes;
    const char *plural = least == 1 ? "" : "s";
    if (count == 0) {
        std::fprintf(out, "\n  no outages of at least %" PRIu64 " failed probe%s in a row\n", least,
                     plural);
        return;
    }
    std::fprintf(out, "\n  %zu outage%s of at least %" PRIu64 " failed probe%s in a row\n", count,
                 count == 1 ? "" : "s", least, plural);
    std::fprintf(out, "  %-19s  %-19s  %10s  %6s  %-5s  %s\n", "start (UTC)", "end (UTC)",
                 "duration", "probes", "state", "failures");
    for (const Outage &outage : target.outages) {
        char start[32], end[32], duration[32];
        FormatUtc(outage.start, UtcStyle::kReadable, start, sizeof start);
        FormatUtc(outage.end, UtcStyle::kReadable, end, sizeof end);
        FormatDuration(OutageSeconds(outage), duration, sizeof duration);
        std::fprintf(out, "  %-19s  %-19s  %10s  %6" PRIu64 "  %-5s  %s\n", start, end, duration,
                     outage.probes, outage.open ? "open" : "ended",
                     OutageTexts(summary, outage).c_str());
    }
}

// Writes the table of the hours of `target`.
void WriteHours(FILE *out, const TargetSummary &target) {
    std::fprintf(out, "\n  %-16s  %6s  %6s  %8s  %9s\n", "hour (UTC)", "probes", "lost", "loss",
                 "median");
    for (const HourSummary &hour : target.hours) {
        const HourFigures figures = FigureHour(hour);
        char start[32], median[32] = "-";
        FormatUtc(hour.hour * 3600, UtcStyle::kHour, start, sizeof start);
        if (figures.medianKnown) std::snprintf(median, sizeof median, "%" PRIu32 " ms", figures.medianMs);
        std::fprintf(out, "  %-16s  %6" PRIu32 "  %6" PRIu32 "  %7.3f%%  %9s\n", start, hour.probes,
                     hour.lost, figures.lossPercent, median);
    }
}

}  // namespace

void WriteTextReport(FILE *out, const LogSummary &summary) {
    WriteHeading(out, summary);
    for (const TargetSummary &target : summary.targets) {
        WriteTargetSummary(out, summary, target);
        WriteOutages(out, summary, target);
        WriteHours(out, target);
    }
}
