#include "log_part.h"

#include "calendar.h"
#include "plain_row.h"

#include <algorithm>
#include <utility>

namespace {

// Counts the probe of `row` in its hour of the log's day `dayStart`: the
// table, the round trips, the chart.
void AddToHour(TargetPart *target, int64_t dayStart, const LogRow &row) {
    const uint32_t secondOfDay = static_cast<uint32_t>(row.secondOfDay);  // 0 to 86399
    const size_t hourOfDay = secondOfDay / 3600;
    const size_t secondOfHour = secondOfDay % 3600;
    HourSummary *hour = target->hoursOfDay[hourOfDay].get();
    if (hour == nullptr) {
        hour = new HourSummary();
        target->hoursOfDay[hourOfDay].reset(hour);
        hour->hour = dayStart / 3600 + static_cast<int64_t>(hourOfDay);
        hour->rttCounts.reset(new HourCounts());
        for (MinuteRtt &minute : hour->minutes) minute.minMs = UINT32_MAX;
    }
    ++hour->probes;
    if (!row.answered) {
        ++hour->lost;
        hour->lostSeconds[secondOfHour / 8] =
            static_cast<uint8_t>(hour->lostSeconds[secondOfHour / 8] | (1u << (secondOfHour % 8)));
        return;
    }
    ++hour->rttCounts->counts[RttBucket(row.rttMs)];
    MinuteRtt &minute = hour->minutes[secondOfHour / 60];
    ++minute.answered;
    minute.sumMs += row.rttMs;
    minute.minMs = std::min(minute.minMs, row.rttMs);
    minute.maxMs = std::max(minute.maxMs, row.rttMs);
}

// Ends the run of failures of `target` at `end`; the first run to end in
// the log is kept as its lead, for the join to judge.
void EndPartRun(TargetPart *target, uint64_t minOutageProbes, int64_t end, bool open) {
    if (!target->leadEnded) {
        target->leadEnded = true;
        target->leadEnd = end;
        target->leadOpen = open;
        target->lead = std::move(target->summary.run);
        target->summary.run = Outage{};
        return;
    }
    if (target->summary.run.probes != 0) EndFailureRun(&target->summary, minOutageProbes, end, open);
}

// Adds the probe of `row` of the log of the day `dayStart` to `part`;
// `text` is the number of its failure text.
void AddProbe(TargetPart *part, uint64_t minOutageProbes, int64_t dayStart, const LogRow &row,
              uint32_t text) {
    TargetSummary *target = &part->summary;
    const int64_t time = dayStart + row.secondOfDay;
    if (target->probes++ == 0) {
        target->firstTime = target->lastTime = part->firstRowTime = time;
    } else {
        const int64_t step = time - target->previousTime;
        if (step <= kLongestProbeGap && step >= -kLongestProbeGap) {
            if (step > 0) target->observedSeconds += step;
        } else {
            ++target->gaps;
            EndPartRun(part, minOutageProbes, target->run.end, true);
        }
        // Rows mostly come in the order of their times.
        if (time > target->lastTime) {
            target->lastTime = time;
        } else if (time < target->firstTime) {
            target->firstTime = time;
        }
    }
    target->previousTime = time;
    AddToHour(part, dayStart, row);
    // The answers and their round trips are added up from the hours when
    // the part is joined.
    if (row.answered) {
        EndPartRun(part, minOutageProbes, time, false);
        target->lastRttMs = row.rttMs;
        if (row.rttMs > kRttTopMs) target->rttAboveTopSumMs += row.rttMs;
        return;
    }
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

// Returns the number in `numbers` of `name`, giving it the next one (and a
// place in `names`) when it is new.
size_t GlobalNumber(const std::string &name, std::vector<std::string> *names,
                    std::unordered_map<std::string, size_t> *numbers) {
    const auto found = numbers->emplace(name, names->size());
    if (found.second) names->push_back(name);
    return found.first->second;
}

// Adds `text` (a number of the log's) to the texts of `run` unless it
// holds it already.
void AddRunText(Outage *run, uint32_t text) {
    if (std::find(run->texts.begin(), run->texts.end(), text) == run->texts.end()) {
        run->texts.push_back(text);
    }
}

// Renumbers the failure texts of `outage` from the log's to the summary's.
void RenumberTexts(Outage *outage, const std::vector<uint32_t> &textNumber) {
    for (uint32_t &text : outage->texts) text = textNumber[text];
}

// Adds the hours of `from`, a log of the day `dayStart`, to those of `into`,
// keeping them in order. The logs come in the order of their dates, so the
// hours of earlier dates are complete and can be closed.
void JoinHours(TargetSummary *into, TargetPart *from, int64_t dayStart) {
    CloseHours(into, dayStart / 3600);
    std::deque<HourSummary> &hours = into->hours;
    for (std::unique_ptr<HourSummary> &hour : from->hoursOfDay) {
        if (hour == nullptr) continue;
        if (hours.empty() || hours.back().hour < hour->hour) {
            hours.push_back(std::move(*hour));
            ++into->openHours;
        } else {
            // Another log of the same date.
            auto at = std::lower_bound(hours.begin(), hours.end(), hour->hour,
                                       [](const HourSummary &h, int64_t value) { return h.hour < value; });
            if (at != hours.end() && at->hour == hour->hour) {
                AddHour(&*at, *hour);
            } else {
                hours.insert(at, std::move(*hour));
                ++into->openHours;
            }
        }
        hour.reset();
    }
}

// Adds up the answers, the losses and the round trips of `part` from its hours.
void AddUpHours(TargetPart *part) {
    TargetSummary &target = part->summary;
    for (const std::unique_ptr<HourSummary> &hour : part->hoursOfDay) {
        if (hour == nullptr) continue;
        target.lost += hour->lost;
        for (const MinuteRtt &minute : hour->minutes) {
            target.answered += minute.answered;
            target.rttSumMs += minute.sumMs;
            target.rttMinMs = std::min(target.rttMinMs, minute.minMs);
            target.rttMaxMs = std::max(target.rttMaxMs, minute.maxMs);
        }
    }
}

// Joins what the log of the day `dayStart` says of one target to what the
// logs before it said.
void JoinTarget(TargetSummary *into, TargetPart *part, int64_t dayStart, uint64_t minOutageProbes,
                const std::vector<uint32_t> &textNumber) {
    AddUpHours(part);
    TargetSummary &from = part->summary;
    // The step from its latest row in the earlier logs to its first here.
    if (into->probes == 0) {
        into->firstTime = from.firstTime;
        into->lastTime = from.lastTime;
    } else {
        const int64_t step = part->firstRowTime - into->previousTime;
        if (step <= kLongestProbeGap && step >= -kLongestProbeGap) {
            into->observedSeconds += std::max<int64_t>(0, step);
        } else {
            ++into->gaps;
            EndFailureRun(into, minOutageProbes, into->run.end, true);
        }
        into->firstTime = std::min(into->firstTime, from.firstTime);
        into->lastTime = std::max(into->lastTime, from.lastTime);
    }
    // The failures at the start go on with the run of the earlier logs.
    Outage *lead = part->leadEnded ? &part->lead : &from.run;
    Outage &run = into->run;
    if (lead->probes > 0) {
        if (run.probes == 0) run.start = lead->start;
        run.probes += lead->probes;
        run.end = lead->end;
        for (uint32_t text : lead->texts) AddRunText(&run, textNumber[text]);
    }
    if (part->leadEnded) {
        EndFailureRun(into, minOutageProbes, part->leadOpen ? run.end : part->leadEnd, part->leadOpen);
        run = std::move(from.run);
        RenumberTexts(&run, textNumber);
    }
    into->previousTime = from.previousTime;
    into->probes += from.probes;
    into->answered += from.answered;
    into->lost += from.lost;
    into->rttSumMs += from.rttSumMs;
    into->rttAboveTopSumMs += from.rttAboveTopSumMs;
    into->rttMinMs = std::min(into->rttMinMs, from.rttMinMs);
    into->rttMaxMs = std::max(into->rttMaxMs, from.rttMaxMs);
    if (from.answered > 0) into->lastRttMs = from.lastRttMs;
    into->observedSeconds += from.observedSeconds;
    into->downSeconds += from.downSeconds;
    into->gaps += from.gaps;
    for (size_t text = 0; text < from.failureCounts.size(); ++text) {
        if (from.failureCounts[text] == 0) continue;
        const uint32_t number = textNumber[text];
        if (into->failureCounts.size() <= number) into->failureCounts.resize(number + 1u, 0);
        into->failureCounts[number] += from.failureCounts[text];
    }
    for (Outage &outage : from.outages) {
        RenumberTexts(&outage, textNumber);
        into->outages.push_back(std::move(outage));
    }
    JoinHours(into, part, dayStart);
}

}  // namespace

DayWindow DayWindowOf(const LogPart &part) {
    DayWindow day = {0, kSecondsPerDay};
    if (part.since > part.dayStart) day.first = std::min(part.since - part.dayStart, kSecondsPerDay);
    if (part.until < part.dayStart + kSecondsPerDay) {
        day.end = std::max<int64_t>(part.until - part.dayStart, 0);
    }
    return day;
}

void AddNumberedRow(LogPart *part, uint32_t target, const LogRow &row, uint32_t text) {
    AddProbe(part->targets[target].get(), part->minOutageProbes, part->dayStart, row, text);
}

void AddPartRow(LogPart *part, const LogRow &row) {
    const uint32_t number = NumberName(&part->targetNames, row.target, row.targetLength);
    if (number == part->targets.size()) {
        part->targets.emplace_back(new TargetPart());
        part->targets.back()->summary.target = part->targetNames.names[number];
    }
    const uint32_t text =
        row.answered ? 0 : NumberName(&part->textNames, row.detail, row.detailLength);
    const DayWindow day = DayWindowOf(*part);
    if (row.secondOfDay < day.first || row.secondOfDay >= day.end) {
        ++part->outsideRows;
        return;
    }
    AddProbe(part->targets[number].get(), part->minOutageProbes, part->dayStart, row, text);
}

void JoinLogPart(LogSummary *summary, LogPart *part) {
    std::vector<uint32_t> textNumber;
    for (const std::string &text : part->textNames.names) {
        textNumber.push_back(
            static_cast<uint32_t>(GlobalNumber(text, &summary->texts, &summary->textNumbers)));
    }
    for (std::unique_ptr<TargetPart> &target : part->targets) {
        if (target->summary.probes == 0) continue;  // its rows all lie outside the window
        const auto found =
            summary->targetNumbers.emplace(target->summary.target, summary->targets.size());
        if (found.second) {
            summary->targets.emplace_back();
            summary->targets.back().target = target->summary.target;
        }
        JoinTarget(&summary->targets[found.first->second], target.get(), part->dayStart,
                   summary->minOutageProbes, textNumber);
    }
    *part = LogPart{};
}

size_t AddPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows) {
    // A day wholly inside the window has no row to test.
    const DayWindow day = DayWindowOf(*part);
    if (day.first != 0 || day.end != kSecondsPerDay) return AddWindowedPlainRows(part, begin, end, rows);
    PlainRow plain;
    StartPlainRows(&plain);
    const char *at = begin;
    uint64_t count = 0;
    for (size_t length;
         at < end && (length = ReadPlainRow(at, end, part->targetNames, part->textNames, &plain)) != 0;
         at += length) {
        AddProbe(part->targets[plain.target].get(), part->minOutageProbes, part->dayStart, plain.row,
                 plain.text);
        ++count;
    }
    *rows = count;
    return static_cast<size_t>(at - begin);
}
