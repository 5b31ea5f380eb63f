// What the rows of the daily logs add up to, per target: counts, round trips
// per whole millisecond for every UTC hour, outages, and what the chart
// draws. Memory grows with targets and hours, not with rows. Each log is
// read into a part of its own (log_part.h), and the parts are joined in the
// order of the logs.
#pragma once

#include "rtt_histogram.h"
#include "time_window.h"

#include <cstdint>
#include <deque>
#include <memory>
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

// The round trips of one hour, per bucket of rtt_histogram.h.
struct HourCounts {
    uint32_t counts[kRttBuckets];
};

// The probes of one target that started within one UTC hour.
struct HourSummary {
    int64_t hour;  // hours since 1970-01-01 00:00 UTC
    uint32_t probes, lost;
    uint32_t rttMedianMs;  // of its answers, once the hour is closed
    // Its round trips while logs of its date may still add to it; the hour
    // is closed, and they are added to its target's, once none can.
    std::unique_ptr<HourCounts> rttCounts;
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
    // It crosses an edge of the window and is cut there: it starts at the
    // window's start, or ends at its end, and is open then.
    bool cutAtStart, cutAtEnd;
    std::vector<uint32_t> texts;  // the failure texts seen, by number, in order
};

struct TargetSummary {
    std::string target;
    uint64_t probes = 0, answered = 0, lost = 0;
    uint64_t rttSumMs = 0, rttAboveTopSumMs = 0;
    uint32_t rttMinMs = UINT32_MAX, rttMaxMs = 0;
    uint32_t lastRttMs = 0;               // of the last answer in the order of the rows
    int64_t firstTime = 0, lastTime = 0;  // the earliest and the latest probe
    int64_t observedSeconds = 0;          // between consecutive probes
    int64_t downSeconds = 0;              // within outages
    uint64_t gaps = 0;                    // breaks longer than kLongestProbeGap
    std::vector<uint64_t> failureCounts;  // by text number
    std::vector<uint64_t> rttCounts;      // of every closed hour, per bucket
    std::vector<Outage> outages;          // in the order they began
    // In the order of the hours; a deque, as an hour is large and its place
    // need not move when more are added.
    std::deque<HourSummary> hours;
    size_t openHours = 0;  // the last of `hours`, not yet closed
    // While the rows are read: the latest probe in the order of the rows,
    // and the run of failures going on.
    int64_t previousTime = 0;
    Outage run = {};
};

struct LogFile {
    std::string path;
    int64_t day;  // days since 1970-01-01
    uint64_t rows, skipped;
    uint64_t outside;  // of its rows, those outside the window, not counted
};

struct LogSummary {
    uint64_t minOutageProbes = 3;
    TimeWindow window;                     // only rows inside it count
    std::vector<LogFile> files;            // in the order of their dates, inside the window
    uint64_t filesOutside = 0;             // named, but wholly outside the window: not read
    std::deque<TargetSummary> targets;     // in the order they first appear
    std::vector<std::string> texts;        // the failure texts, by number
    std::unordered_map<std::string, size_t> targetNumbers, textNumbers;
};

// Returns the duration of `outage` in seconds: from its first failed probe
// to the answer that ended it, or to its last failed probe when open.
int64_t OutageSeconds(const Outage &outage);

// Ends the run of failures of `target` at `end`: a run of at least
// `minOutageProbes` becomes an outage of the target, open or not.
void EndFailureRun(TargetSummary *target, uint64_t minOutageProbes, int64_t end, bool open);

// Adds the probes of `from` to `into`, an hour of the same target that is
// not closed: the counts, the round trips and the failed seconds.
void AddHour(HourSummary *into, const HourSummary &from);

// Closes the hours of `target` before `hour` (hours since 1970-01-01):
// their medians are taken and their round trips added to the target's.
void CloseHours(TargetSummary *target, int64_t hour);

// Ends what is still going on once every row is added: a run of failures
// long enough becomes an open outage, and every hour is closed. A target
// whose rows come within kLongestProbeGap of an edge of the window is taken
// as probed up to it, as the rows beyond are not read: that time is
// observed, and an outage at the edge is cut there.
void FinishLogSummary(LogSummary *summary);
