#include "log_summary.h"

#include "calendar.h"

#include <algorithm>
#include <cstring>

namespace {

// Returns the number of `text` in `numbers`, giving it the next one (and a
// place in `names`) when it is new. `last` remembers the previous answer,
// since consecutive rows mostly repeat it.
size_t NumberOf(const char *text, size_t length, std::vector<std::string> *names,
                std::unordered_map<std::string, size_t> *numbers, size_t *last) {
    if (*last < names->size() && (*names)[*last].size() == length &&
        std::memcmp((*names)[*last].data(), text, length) == 0) {
        return *last;
    }
    std::string key(text, length);
    auto found = numbers->find(key);
    if (found == numbers->end()) {
        found = numbers->emplace(key, names->size()).first;
        names->push_back(key);
    }
    *last = found->second;
    return found->second;
}

// Returns the target of `row`, added when new.
TargetSummary *TargetOf(LogSummary *summary, const LogRow &row) {
    const size_t number = NumberOf(row.target, row.targetLength, &summary->targetNames,
                                   &summary->targetNumbers, &summary->lastTarget);
    if (number == summary->targets.size()) {
        summary->targets.emplace_back();
        summary->targets.back().target = summary->targetNames[number];
    }
    return &summary->targets[number];
}

// Returns the summary of `hour` for `target`, added in its place when new.
HourSummary *HourOf(TargetSummary *target, int64_t hour) {
    std::vector<HourSummary> &hours = target->hours;
    if (target->lastHour < hours.size() && hours[target->lastHour].hour == hour) {
        return &hours[target->lastHour];
    }
    auto at = std::lower_bound(hours.begin(), hours.end(), hour,
                               [](const HourSummary &h, int64_t value) { return h.hour < value; });
    if (at == hours.end() || at->hour != hour) {
        HourSummary fresh = {};
        fresh.hour = hour;
        for (MinuteRtt &minute : fresh.minutes) minute.minMs = UINT32_MAX;
        at = hours.insert(at, fresh);
    }
    target->lastHour = static_cast<size_t>(at - hours.begin());
    return &*at;
}

// Ends the run of failures of `target` at `end`; one of at least the
// outage length becomes an outage.
void EndRun(TargetSummary *target, uint64_t minOutageProbes, int64_t end, bool open) {
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

// Counts the probe in its hour: the table, the round trips, the chart.
void AddToHour(TargetSummary *target, int64_t time, const LogRow &row) {
    const int64_t hourNumber = FloorDivide(time, 3600);
    const size_t secondOfHour = static_cast<size_t>(time - hourNumber * 3600);
    HourSummary *hour = HourOf(target, hourNumber);
    ++hour->probes;
    if (!row.answered) {
        ++hour->lost;
        hour->lostSeconds[secondOfHour / 8] =
            static_cast<uint8_t>(hour->lostSeconds[secondOfHour / 8] | (1u << (secondOfHour % 8)));
        return;
    }
    ++hour->rttCounts[RttBucket(row.rttMs)];
    MinuteRtt &minute = hour->minutes[secondOfHour / 60];
    ++minute.answered;
    minute.sumMs += row.rttMs;
    minute.minMs = std::min(minute.minMs, row.rttMs);
    minute.maxMs = std::max(minute.maxMs, row.rttMs);
}

}  // namespace

int64_t OutageSeconds(const Outage &outage) { return std::max<int64_t>(0, outage.end - outage.start); }

void AddLogRow(LogSummary *summary, int64_t time, const LogRow &row) {
    TargetSummary *target = TargetOf(summary, row);
    if (target->probes == 0) {
        target->firstTime = target->lastTime = time;
    } else {
        const int64_t step = time - target->previousTime;
        if (step <= kLongestProbeGap && step >= -kLongestProbeGap) {
            target->observedSeconds += std::max<int64_t>(0, step);
        } else {
            ++target->gaps;
            EndRun(target, summary->minOutageProbes, target->run.end, true);
        }
        target->firstTime = std::min(target->firstTime, time);
        target->lastTime = std::max(target->lastTime, time);
    }
    target->previousTime = time;
    ++target->probes;
    AddToHour(target, time, row);
    if (row.answered) {
        EndRun(target, summary->minOutageProbes, time, false);
        ++target->answered;
        target->rttSumMs += row.rttMs;
        if (row.rttMs > kRttTopMs) target->rttAboveTopSumMs += row.rttMs;
        target->rttMinMs = std::min(target->rttMinMs, row.rttMs);
        target->rttMaxMs = std::max(target->rttMaxMs, row.rttMs);
        return;
    }
    ++target->lost;
    const uint32_t text = static_cast<uint32_t>(NumberOf(
        row.detail, row.detailLength, &summary->texts, &summary->textNumbers, &summary->lastText));
    if (target->failureCounts.size() <= text) target->failureCounts.resize(text + 1u, 0);
    ++target->failureCounts[text];
    Outage &run = target->run;
    if (run.probes == 0) run.start = time;
    ++run.probes;
    run.end = time;  // its last failed probe, until an answer ends it
    if (std::find(run.texts.begin(), run.texts.end(), text) == run.texts.end()) {
        run.texts.push_back(text);
    }
}

void FinishLogSummary(LogSummary *summary) {
    for (TargetSummary &target : summary->targets) {
        EndRun(&target, summary->minOutageProbes, target.run.end, true);
    }
}
