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

// Writes the line that says which window the report keeps to, and what of
// the logs lay outside it; `rows` were read, `outside` of them outside it.
void WriteWindow(FILE *out, const LogSummary &summary, uint64_t rows, uint64_t outside) {
    const TimeWindow &window = summary.window;
    char since[32] = "", until[32] = "";  // an edge not given is no moment
    if (window.hasSince) FormatUtc(window.since, UtcStyle::kReadable, since, sizeof since);
    if (window.hasUntil) FormatUtc(window.until, UtcStyle::kReadable, until, sizeof until);
    if (window.hasSince && window.hasUntil) {
        std::fprintf(out, "window %s to %s UTC", since, until);
    } else if (window.hasSince) {
        std::fprintf(out, "window from %s UTC on", since);
    } else {
        std::fprintf(out, "window before %s UTC", until);
    }
    std::fprintf(out, ": %" PRIu64 " rows inside it, %" PRIu64 " outside", rows - outside, outside);
    const uint64_t unread = summary.filesOutside;
    if (unread > 0) {
        std::fprintf(out, "; %" PRIu64 " daily log%s wholly outside, not read", unread,
                     unread == 1 ? "" : "s");
    }
    std::fputc('\n', out);
}

// Writes the first line: which logs, which days, how many rows; then the
// window, if there is one.
void WriteHeading(FILE *out, const LogSummary &summary) {
    uint64_t rows = 0, skipped = 0, outside = 0;
    for (const LogFile &file : summary.files) {
        rows += file.rows;
        skipped += file.skipped;
        outside += file.outside;
    }
    const size_t count = summary.files.size();
    if (count == 0) {
        // Only a window leaves every log named unread.
        std::fprintf(out, "0 daily logs: 0 rows, 0 skipped\n");
        WriteWindow(out, summary, 0, 0);
        return;
    }
    char first[32], last[32];
    FormatUtc(summary.files.front().day * kSecondsPerDay, UtcStyle::kDate, first, sizeof first);
    FormatUtc(summary.files.back().day * kSecondsPerDay, UtcStyle::kDate, last, sizeof last);
    std::fprintf(out, "%zu daily log%s, %s%s%s: %" PRIu64 " rows, %" PRIu64 " skipped\n", count,
                 count == 1 ? "" : "s", first, std::strcmp(first, last) == 0 ? "" : " to ",
                 std::strcmp(first, last) == 0 ? "" : last, rows, skipped);
    if (IsWindowed(summary.window)) WriteWindow(out, summary, rows, outside);
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

// Returns the state of `outage` as the table shows it: ended or open, and
// where the window cut it.
const char *OutageState(const Outage &outage) {
    if (outage.cutAtStart && outage.cutAtEnd) return "cut at both ends";
    if (outage.cutAtEnd) return "cut at end";
    if (outage.cutAtStart) return outage.open ? "open, cut at start" : "ended, cut at start";
    return outage.open ? "open" : "ended";
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
    int width = 5;  // "state", "ended" and "open"; longer where a window cut one
    for (const Outage &outage : target.outages) {
        width = std::max(width, static_cast<int>(std::strlen(OutageState(outage))));
    }
    std::fprintf(out, "  %-19s  %-19s  %10s  %6s  %-*s  %s\n", "start (UTC)", "end (UTC)",
                 "duration", "probes", width, "state", "failures");
    for (const Outage &outage : target.outages) {
        char start[32], end[32], duration[32];
        FormatUtc(outage.start, UtcStyle::kReadable, start, sizeof start);
        FormatUtc(outage.end, UtcStyle::kReadable, end, sizeof end);
        FormatDuration(OutageSeconds(outage), duration, sizeof duration);
        std::fprintf(out, "  %-19s  %-19s  %10s  %6" PRIu64 "  %-*s  %s\n", start, end, duration,
                     outage.probes, width, OutageState(outage), OutageTexts(summary, outage).c_str());
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
