#include "log_summary.h"

#include <algorithm>

namespace {

// Returns the largest round trip answered within `hour`.
uint32_t HourMaxMs(const HourSummary &hour) {
    uint32_t largest = 0;
    for (const MinuteRtt &minute : hour.minutes) {
        if (minute.answered > 0) largest = std::max(largest, minute.maxMs);
    }
    return largest;
}

// Takes `target` as probed up to the edges of `window` that its rows come
// close to: the time to each is observed, and the outage at it is cut there.
void CutAtWindow(TargetSummary *target, const TimeWindow &window) {
    std::vector<Outage> &outages = target->outages;
    if (window.hasSince && target->firstTime - window.since <= kLongestProbeGap) {
        const int64_t before = target->firstTime - window.since;
        target->observedSeconds += before;
        if (!outages.empty() && outages.front().start == target->firstTime) {
            Outage &first = outages.front();
            first.start = window.since;
            first.cutAtStart = true;
            target->downSeconds += before;
        }
    }
    if (window.hasUntil && window.until - target->lastTime <= kLongestProbeGap) {
        const int64_t after = window.until - target->lastTime;
        target->observedSeconds += after;
        // The run going on at its latest probe, which no answer ended.
        if (!outages.empty() && outages.back().open && outages.back().end == target->lastTime) {
            Outage &last = outages.back();
            last.end = window.until;
            last.cutAtEnd = true;
            target->downSeconds += after;
        }
    }
}

}  // namespace

int64_t OutageSeconds(const Outage &outage) { return std::max<int64_t>(0, outage.end - outage.start); }

void EndFailureRun(TargetSummary *target, uint64_t minOutageProbes, int64_t end, bool open) {
    Outage &run = target->run;
    if (run.probes == 0) return;
    if (run.probes >= minOutageProbes) {
        run.end = end;
        run.open = open;
        target->downSeconds += OutageSeconds(run);
        target->outages.push_back(run);
    }
    run.probes = 0;
    run.texts.clear();
}

void AddHour(HourSummary *into, const HourSummary &from) {
    into->probes += from.probes;
    into->lost += from.lost;
    for (size_t bucket = 0; bucket < kRttBuckets; ++bucket) {
        into->rttCounts->counts[bucket] += from.rttCounts->counts[bucket];
    }
    for (int i = 0; i < 60; ++i) {
        MinuteRtt &minute = into->minutes[i];
        const MinuteRtt &added = from.minutes[i];
        minute.answered += added.answered;
        minute.sumMs += added.sumMs;
        minute.minMs = std::min(minute.minMs, added.minMs);
        minute.maxMs = std::max(minute.maxMs, added.maxMs);
    }
    for (size_t i = 0; i < sizeof into->lostSeconds; ++i) {
        into->lostSeconds[i] = static_cast<uint8_t>(into->lostSeconds[i] | from.lostSeconds[i]);
    }
}

void CloseHours(TargetSummary *target, int64_t hour) {
    if (target->rttCounts.empty()) target->rttCounts.assign(kRttBuckets, 0);
    const size_t first = target->hours.size() - target->openHours;
    size_t closed = 0;
    for (; closed < target->openHours && target->hours[first + closed].hour < hour; ++closed) {
        HourSummary &open = target->hours[first + closed];
        uint64_t counts[kRttBuckets];
        for (size_t bucket = 0; bucket < kRttBuckets; ++bucket) {
            counts[bucket] = open.rttCounts->counts[bucket];
            target->rttCounts[bucket] += counts[bucket];
        }
        const uint64_t answered = open.probes - open.lost;
        if (answered > 0) open.rttMedianMs = RttPercentile(counts, answered, 50, HourMaxMs(open));
        open.rttCounts.reset();
    }
    target->openHours -= closed;
}

void FinishLogSummary(LogSummary *summary) {
    for (TargetSummary &target : summary->targets) {
        EndFailureRun(&target, summary->minOutageProbes, target.run.end, true);
        if (IsWindowed(summary->window)) CutAtWindow(&target, summary->window);
        CloseHours(&target, INT64_MAX);
    }
}
