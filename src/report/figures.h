// The figures every output format shows, derived from a summary and rounded
// once here, so that text, CSV, JSON and the chart agree.
#pragma once

#include "log_summary.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RttFigures {
    bool known;  // some probe was answered
    uint32_t minMs, medianMs, p95Ms, p99Ms, maxMs;
    double meanMs, meanDeviationMs;  // to two decimals
};

struct TargetFigures {
    double lossPercent;        // of the probes, to three decimals
    bool availabilityKnown;    // some time between probes was observed
    double availabilityPercent;  // of the observed time outside outages
    RttFigures rtt;
};

struct HourFigures {
    double lossPercent;
    bool medianKnown;
    uint32_t medianMs;
};

// Returns 100 * `part` / `whole` (> 0) to three decimals; a part above 0
// never shows as 0, nor one below the whole as 100.
double Percent(uint64_t part, uint64_t whole);

// Returns the figures of `target`, which has at least one probe.
TargetFigures FigureTarget(const TargetSummary &target);

// Returns the figures of `hour`, which has at least one probe.
HourFigures FigureHour(const HourSummary &hour);

// Returns (text number, count) of each failure text of `target`, the most
// frequent first, ties in the order the texts first appeared.
std::vector<std::pair<uint32_t, uint64_t>> FailureTexts(const TargetSummary &target);

// Returns the failure texts of `outage` joined by " | ".
std::string OutageTexts(const LogSummary &summary, const Outage &outage);

