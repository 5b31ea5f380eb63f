#include "calendar.h"
#include "figures.h"
#include "report_output.h"

#include <cinttypes>
#include <cstring>
#include <string>

namespace {

// Writes `text` as one CSV field: quoted, with its quotes doubled, when it
// holds a comma, a quote or a line end.
void WriteField(FILE *out, const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        std::fputs(text.c_str(), out);
        return;
    }
    std::fputc('"', out);
    for (char c : text) {
        if (c == '"') std::fputc('"', out);
        std::fputc(c, out);
    }
    std::fputc('"', out);
}

// Writes the moment `seconds` as a field in ISO 8601, UTC.
void WriteTime(FILE *out, int64_t seconds) {
    char text[32];
    FormatUtc(seconds, UtcStyle::kIso, text, sizeof text);
    std::fputs(text, out);
}

// With a window, the files and the outages have columns at the end that
// say what it left out and what it cut; without one they are as they were.
void WriteFiles(FILE *out, const LogSummary &summary) {
    const bool windowed = IsWindowed(summary.window);
    std::fputs(windowed ? "file,date,rows,skipped_rows,outside_rows\n" : "file,date,rows,skipped_rows\n",
               out);
    for (const LogFile &file : summary.files) {
        char date[32];
        FormatUtc(file.day * kSecondsPerDay, UtcStyle::kDate, date, sizeof date);
        WriteField(out, file.path);
        std::fprintf(out, ",%s,%" PRIu64 ",%" PRIu64, date, file.rows, file.skipped);
        if (windowed) std::fprintf(out, ",%" PRIu64, file.outside);
        std::fputc('\n', out);
    }
}

void WriteTargets(FILE *out, const LogSummary &summary) {
    std::fputs("target,first_probe,last_probe,observed_seconds,gaps,probes,answered,lost,"
               "loss_percent,outages,down_seconds,availability_percent,rtt_min_ms,rtt_mean_ms,"
               "rtt_median_ms,rtt_p95_ms,rtt_p99_ms,rtt_max_ms,rtt_mean_deviation_ms\n",
               out);
    for (const TargetSummary &target : summary.targets) {
        const TargetFigures figures = FigureTarget(target);
        WriteField(out, target.target);
        std::fputc(',', out);
        WriteTime(out, target.firstTime);
        std::fputc(',', out);
        WriteTime(out, target.lastTime);
        std::fprintf(out, ",%" PRId64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%.3f,%zu,%" PRId64 ",",
                     target.observedSeconds, target.gaps, target.probes, target.answered,
                     target.lost, figures.lossPercent, target.outages.size(), target.downSeconds);
        if (figures.availabilityKnown) std::fprintf(out, "%.3f", figures.availabilityPercent);
        const RttFigures &rtt = figures.rtt;
        if (rtt.known) {
            std::fprintf(out, ",%" PRIu32 ",%.2f,%" PRIu32 ",%" PRIu32 ",%" PRIu32 ",%" PRIu32 ",%.2f\n",
                         rtt.minMs, rtt.meanMs, rtt.medianMs, rtt.p95Ms, rtt.p99Ms, rtt.maxMs,
                         rtt.meanDeviationMs);
        } else {
            std::fputs(",,,,,,,\n", out);
        }
    }
}

void WriteFailures(FILE *out, const LogSummary &summary) {
    std::fputs("target,failure,count\n", out);
    for (const TargetSummary &target : summary.targets) {
        for (const auto &text : FailureTexts(target)) {
            WriteField(out, target.target);
            std::fputc(',', out);
            WriteField(out, summary.texts[text.first]);
            std::fprintf(out, ",%" PRIu64 "\n", text.second);
        }
    }
}

void WriteOutages(FILE *out, const LogSummary &summary) {
    const bool windowed = IsWindowed(summary.window);
    std::fputs(windowed ? "target,start,end,duration_seconds,probes,open,failures,cut_at_start,cut_at_end\n"
                        : "target,start,end,duration_seconds,probes,open,failures\n",
               out);
    for (const TargetSummary &target : summary.targets) {
        for (const Outage &outage : target.outages) {
            WriteField(out, target.target);
            std::fputc(',', out);
            WriteTime(out, outage.start);
            std::fputc(',', out);
            WriteTime(out, outage.end);
            std::fprintf(out, ",%" PRId64 ",%" PRIu64 ",%s,", OutageSeconds(outage), outage.probes,
                         outage.open ? "true" : "false");
            WriteField(out, OutageTexts(summary, outage));
            if (windowed) {
                std::fprintf(out, ",%s,%s", outage.cutAtStart ? "true" : "false",
                             outage.cutAtEnd ? "true" : "false");
            }
            std::fputc('\n', out);
        }
    }
}

void WriteHours(FILE *out, const LogSummary &summary) {
    std::fputs("target,hour,probes,lost,loss_percent,rtt_median_ms\n", out);
    for (const TargetSummary &target : summary.targets) {
        for (const HourSummary &hour : target.hours) {
            const HourFigures figures = FigureHour(hour);
            WriteField(out, target.target);
            std::fputc(',', out);
            WriteTime(out, hour.hour * 3600);
            std::fprintf(out, ",%" PRIu32 ",%" PRIu32 ",%.3f,", hour.probes, hour.lost,
                         figures.lossPercent);
            if (figures.medianKnown) std::fprintf(out, "%" PRIu32, figures.medianMs);
            std::fputc('\n', out);
        }
    }
}

// Writes the window: its edges (empty where it has none) and the logs
// named that lay wholly outside it.
void WriteWindow(FILE *out, const LogSummary &summary) {
    const TimeWindow &window = summary.window;
    std::fputs("since,until,files_outside\n", out);
    if (window.hasSince) WriteTime(out, window.since);
    std::fputc(',', out);
    if (window.hasUntil) WriteTime(out, window.until);
    std::fprintf(out, ",%" PRIu64 "\n", summary.filesOutside);
}

}  // namespace

void WriteCsvReport(FILE *out, const LogSummary &summary) {
    WriteFiles(out, summary);
    std::fputc('\n', out);
    WriteTargets(out, summary);
    std::fputc('\n', out);
    WriteFailures(out, summary);
    std::fputc('\n', out);
    WriteOutages(out, summary);
    std::fputc('\n', out);
    WriteHours(out, summary);
    if (IsWindowed(summary.window)) {
        std::fputc('\n', out);
        WriteWindow(out, summary);
    }
}
