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

// Joins `part`, the log that follows all those already in `summary`, to
// it. Leaves `part` emptied.
void JoinLogPart(LogSummary *summary, LogPart *part);
