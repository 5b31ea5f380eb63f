#include "figures.h"

#include <algorithm>
#include <cmath>

namespace {

// Returns `value` rounded to two decimals.
double Hundredths(double value) { return std::round(value * 100) / 100; }

}  // namespace

double Percent(uint64_t part, uint64_t whole) {
    const double rounded =
        std::round(100000.0 * static_cast<double>(part) / static_cast<double>(whole)) / 1000;
    if (part > 0 && rounded <= 0) return 0.001;
    if (part < whole && rounded >= 100) return 99.999;
    return rounded;
}

TargetFigures FigureTarget(const TargetSummary &target) {
    TargetFigures figures = {};
    figures.lossPercent = Percent(target.lost, target.probes);
    const int64_t observed = target.observedSeconds;
    figures.availabilityKnown = observed > 0;
    if (figures.availabilityKnown) {
        const int64_t up = std::max<int64_t>(0, observed - target.downSeconds);
        figures.availabilityPercent =
            Percent(static_cast<uint64_t>(up), static_cast<uint64_t>(observed));
    }
    RttFigures &rtt = figures.rtt;
    rtt.known = target.answered > 0;
    if (!rtt.known) return figures;
    const uint64_t *counts = target.rttCounts.data();
    const uint64_t n = target.answered;
    const double mean = static_cast<double>(target.rttSumMs) / static_cast<double>(n);
    rtt.minMs = target.rttMinMs;
    rtt.maxMs = target.rttMaxMs;
    rtt.medianMs = RttPercentile(counts, n, 50, rtt.maxMs);
    rtt.p95Ms = RttPercentile(counts, n, 95, rtt.maxMs);
    rtt.p99Ms = RttPercentile(counts, n, 99, rtt.maxMs);
    rtt.meanMs = Hundredths(mean);
    rtt.meanDeviationMs = Hundredths(RttMeanDeviation(counts, n, mean, target.rttAboveTopSumMs));
    return figures;
}

HourFigures FigureHour(const HourSummary &hour) {
    HourFigures figures = {};
    figures.lossPercent = Percent(hour.lost, hour.probes);
    const uint64_t answered = hour.probes - hour.lost;
    figures.medianKnown = answered > 0;
    if (figures.medianKnown) figures.medianMs = hour.rttMedianMs;
    return figures;
}

std::vector<std::pair<uint32_t, uint64_t>> FailureTexts(const TargetSummary &target) {
    std::vector<std::pair<uint32_t, uint64_t>> texts;
    for (size_t number = 0; number < target.failureCounts.size(); ++number) {
        if (target.failureCounts[number] > 0) {
            texts.emplace_back(static_cast<uint32_t>(number), target.failureCounts[number]);
        }
    }
    std::stable_sort(texts.begin(), texts.end(),
                     [](const std::pair<uint32_t, uint64_t> &a,
                        const std::pair<uint32_t, uint64_t> &b) { return a.second > b.second; });
    return texts;
}

std::string OutageTexts(const LogSummary &summary, const Outage &outage) {
    std::string joined;
    for (uint32_t text : outage.texts) {
        if (!joined.empty()) joined += " | ";
        joined += summary.texts[text];
    }
    return joined;
}
