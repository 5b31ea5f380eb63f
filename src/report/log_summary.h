// What the rows of the daily logs add up to, per target: counts, round trips
// per whole millisecond for every UTC hour, outages, and what the chart
// draws. Memory grows with targets and hours, not with rows.
#pragma once

#include "log_row.h"
#include "rtt_histogram.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Rows of one target further apart than this mean that no monitor was
// probing it in between (a cycle takes at most about two seconds): the
// time between them is not observed, and no outage spans it.
const int64_t kLongestProbeGap = 10;

// The answered round trips of one minute, for the chart.
struct MinuteRtt {
    uint32_t answered;
    uint32_t minMs, maxMs;
    uint64_t sumMs;
};

// The probes of one target that started within one UTC hour.
struct HourSummary {
    int64_t hour;  // hours since 1970-01-01 00:00 UTC
    uint32_t probes, lost;
    uint32_t rttCounts[kRttBuckets];
    MinuteRtt minutes[60];
    uint8_t lostSeconds[3600 / 8];  // one bit per second with a failed probe
};

// A run of consecutive failed probes of one target, long enough to count.
struct Outage {
    int64_t start;  // the first failed probe
    // The answered probe that ended it; for an open outage, its last failed
    // probe, as no answer followed (the rows of the target end, or break off).
    int64_t end;
    uint64_t probes;
    bool open;
    std::vector<uint32_t> texts;  // the failure texts seen, by number, in order
};

struct TargetSummary {
    std::string target;
    uint64_t probes = 0, answered = 0, lost = 0;
    uint64_t rttSumMs = 0, rttAboveTopSumMs = 0;
    uint32_t rttMinMs = UINT32_MAX, rttMaxMs = 0;
    int64_t firstTime = 0, lastTime = 0;  // the earliest and the latest probe
    int64_t observedSeconds = 0;          // between consecutive probes
    int64_t downSeconds = 0;              // within outages
    uint64_t gaps = 0;                    // breaks longer than kLongestProbeGap
    std::vector<uint64_t> failureCounts;  // by text number
    std::vector<Outage> outages;          // in the order they began
    std::vector<HourSummary> hours;       // in the order of the hours
    // While the rows are read: the previous probe, the run of failures going
    // on, and the hour last used.
    int64_t previousTime = 0;
    Outage run = {};
    size_t lastHour = 0;
};

struct LogFile {
    std::string path;
    int64_t day;  // days since 1970-01-01
    uint64_t rows, skipped;
};

struct LogSummary {
    uint64_t minOutageProbes = 3;
    std::vector<LogFile> files;            // in the order of their dates
    std::vector<TargetSummary> targets;    // in the order they first appear
    std::vector<std::string> texts;        // the failure texts, by number
    // Finding targets and texts by name; the last numbers found come first.
    std::vector<std::string> targetNames;  // by target number
    std::unordered_map<std::string, size_t> targetNumbers, textNumbers;
    size_t lastTarget = 0, lastText = 0;
};

// Returns the duration of `outage` in seconds: from its first failed probe
// to the answer that ended it, or to its last failed probe when open.
int64_t OutageSeconds(const Outage &outage);

// Adds `row`, a probe that started at `time` (seconds since 1970-01-01 UTC),
// to its target in `summary`. Rows of one target come in the order they were
// written.
void AddLogRow(LogSummary *summary, int64_t time, const LogRow &row);

// Ends what is still going on once every row is added: a run of failures
// long enough becomes an open outage.
void FinishLogSummary(LogSummary *summary);
