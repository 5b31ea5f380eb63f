#include "calendar.h"
#include "figures.h"
#include "report_output.h"

#include <nlohmann/json.hpp>

#include <string>

namespace {

using Json = nlohmann::ordered_json;

// Returns the moment `seconds` in ISO 8601, UTC.
std::string IsoTime(int64_t seconds) {
    char text[32];
    FormatUtc(seconds, UtcStyle::kIso, text, sizeof text);
    return text;
}

// With a window, the report says what it left out and what it cut; without
// one it is as it was.
Json FileJson(const LogSummary &summary, const LogFile &file) {
    char date[32];
    FormatUtc(file.day * kSecondsPerDay, UtcStyle::kDate, date, sizeof date);
    Json json = {{"file", file.path}, {"date", date}, {"rows", file.rows}, {"skipped_rows", file.skipped}};
    if (IsWindowed(summary.window)) json["outside_rows"] = file.outside;
    return json;
}

Json WindowJson(const LogSummary &summary) {
    const TimeWindow &window = summary.window;
    return {{"since", window.hasSince ? Json(IsoTime(window.since)) : Json(nullptr)},
            {"until", window.hasUntil ? Json(IsoTime(window.until)) : Json(nullptr)},
            {"files_outside", summary.filesOutside}};
}

Json RttJson(const RttFigures &rtt) {
    if (!rtt.known) return nullptr;
    return {{"min", rtt.minMs},         {"mean", rtt.meanMs}, {"median", rtt.medianMs},
            {"p95", rtt.p95Ms},         {"p99", rtt.p99Ms},   {"max", rtt.maxMs},
            {"mean_deviation", rtt.meanDeviationMs}};
}

Json OutageJson(const LogSummary &summary, const Outage &outage) {
    Json texts = Json::array();
    for (uint32_t text : outage.texts) texts.push_back(summary.texts[text]);
    Json json = {{"start", IsoTime(outage.start)},
                 {"end", IsoTime(outage.end)},
                 {"duration_seconds", OutageSeconds(outage)},
                 {"probes", outage.probes},
                 {"open", outage.open},
                 {"failures", texts}};
    if (IsWindowed(summary.window)) {
        json["cut_at_start"] = outage.cutAtStart;
        json["cut_at_end"] = outage.cutAtEnd;
    }
    return json;
}

Json HourJson(const HourSummary &hour) {
    const HourFigures figures = FigureHour(hour);
    return {{"hour", IsoTime(hour.hour * 3600)},
            {"probes", hour.probes},
            {"lost", hour.lost},
            {"loss_percent", figures.lossPercent},
            {"rtt_median_ms", figures.medianKnown ? Json(figures.medianMs) : Json(nullptr)}};
}

Json TargetJson(const LogSummary &summary, const TargetSummary &target) {
    const TargetFigures figures = FigureTarget(target);
    Json failures = Json::array(), outages = Json::array(), hours = Json::array();
    for (const auto &text : FailureTexts(target)) {
        failures.push_back({{"text", summary.texts[text.first]}, {"count", text.second}});
    }
    for (const Outage &outage : target.outages) outages.push_back(OutageJson(summary, outage));
    for (const HourSummary &hour : target.hours) hours.push_back(HourJson(hour));
    Json availability = nullptr;
    if (figures.availabilityKnown) availability = figures.availabilityPercent;
    return {{"target", target.target},
            {"first_probe", IsoTime(target.firstTime)},
            {"last_probe", IsoTime(target.lastTime)},
            {"observed_seconds", target.observedSeconds},
            {"gaps", target.gaps},
            {"probes", target.probes},
            {"answered", target.answered},
            {"lost", target.lost},
            {"loss_percent", figures.lossPercent},
            {"down_seconds", target.downSeconds},
            {"availability_percent", availability},
            {"rtt_ms", RttJson(figures.rtt)},
            {"failures", failures},
            {"outages", outages},
            {"hours", hours}};
}

}  // namespace

void WriteJsonReport(FILE *out, const LogSummary &summary) {
    Json files = Json::array(), targets = Json::array();
    for (const LogFile &file : summary.files) files.push_back(FileJson(summary, file));
    for (const TargetSummary &target : summary.targets) targets.push_back(TargetJson(summary, target));
    Json report = {{"min_outage_probes", summary.minOutageProbes}};
    if (IsWindowed(summary.window)) report["window"] = WindowJson(summary);
    report["files"] = files;
    report["targets"] = targets;
    // Bytes of a target that are no UTF-8 become U+FFFD rather than an error.
    const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace);
    std::fputs(text.c_str(), out);
    std::fputc('\n', out);
}
