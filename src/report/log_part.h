// What one daily log says, apart from the others, so that several logs can
// be read at once; joining the parts in the order of the logs gives what
// reading every row of them in that order would have given.
#pragma once

#include "log_row.h"
#include "log_summary.h"
#include "name_table.h"

#include <cstdint>
#include <memory>
#include <vector>

// One target in one log: its rows added as if the target began there, with
// failure texts numbered by the log, and its hours by the hour of the day
// (all rows of a log fall on its date) rather than in `summary`. Its
// answers, losses and round trips are added up from the hours at the join.
struct TargetPart {
    TargetSummary summary;
    std::unique_ptr<HourSummary> hoursOfDay[24];
    int64_t firstRowTime = 0;  // of its first row, which need not be the earliest
    // A run of failures at the start of the log may go on from an earlier
    // log, so it is not judged here: it is kept in `lead` up to the first
    // answer or break in the rows, which ends it at `leadEnd` (open at a
    // break). Until then it is the run going on.
    bool leadEnded = false, leadOpen = false;
    int64_t leadEnd = 0;
    Outage lead = {};
};

struct LogPart {
    uint64_t minOutageProbes = 3;
    int64_t dayStart = 0;  // seconds since 1970-01-01 at the start of its date
    // Rows before `since` or from `until` on are outside the window: they
    // are counted in `outsideRows`, and nowhere else. The log's day must
    // overlap the window.
    int64_t since = INT64_MIN, until = INT64_MAX;
    uint64_t outsideRows = 0;
    NameTable targetNames, textNames;
    std::vector<std::unique_ptr<TargetPart>> targets;  // by the numbers of `targetNames`
};

// Adds `row` of the log to `part`, numbering its target and failure text
// when they are new. Rows come in the order they were written.
void AddPartRow(LogPart *part, const LogRow &row);

// Adds the rows from `begin` on that ReadPlainRow (plain_row.h) reads to
// `part`, up to the first line it refuses or `end`, which must be as
// ReadPlainRow needs. Returns the number of bytes of those rows; counts the
// rows in `*rows`.
size_t AddPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows);

// The seconds of a log's day inside the window: from `first` on and before
// `end`.
struct DayWindow {
    int64_t first, end;
};

// Returns the seconds of the day of `part` that lie inside its window.
DayWindow DayWindowOf(const LogPart &part);

// Adds `row` of the target numbered `target` in `part`, its failure text
// numbered `text` there, to `part`; the row lies inside the window.
void AddNumberedRow(LogPart *part, uint32_t target, const LogRow &row, uint32_t text);

// Does what AddPlainRows does for a log whose day lies partly outside the
// window: a row outside it is counted in `outsideRows` alone. Apart from
// AddPlainRows, so that the rows of a day wholly inside the window, as of
// every day without one, are read the quickest way, untested.
size_t AddWindowedPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows);

// Joins `part`, the log that follows all those already in `summary`, to
// it; a target with no row inside the window is left out. Leaves `part`
// emptied.
void JoinLogPart(LogSummary *summary, LogPart *part);
