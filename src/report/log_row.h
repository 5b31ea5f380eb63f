// One row of a daily log, as the monitor writes it:
// "hh:mm:ss<TAB>target<TAB>rtt<TAB>detail<CR><LF>".
#pragma once

#include <cstddef>
#include <cstdint>

// A row that parsed; its texts point into the line it came from.
struct LogRow {
    int64_t secondOfDay;  // 0 to 86399, UTC
    const char *target;
    size_t targetLength;
    bool answered;
    uint32_t rttMs;       // when answered
    const char *detail;   // the failure text or code; empty when answered
    size_t detailLength;
};

// Why a line is no row.
enum class RowProblem {
    kNone,
    kPartial,    // the input ends inside it: no line end
    kTooLong,    // longer than any row the monitor writes
    kControl,    // a control character inside a field
    kFields,     // not four fields
    kTime,       // no hh:mm:ss time of day
    kRoundTrip,  // no round-trip time in milliseconds, nor -1
    kDetail,     // an answer with a detail, or a failure without one
};

// Parses `line` (`length` bytes up to but not including its line feed; a
// carriage return before it is the row's own) into `row`. Returns kNone on
// success, else what is wrong with it; `row` is then undefined.
RowProblem ParseLogRow(const char *line, size_t length, LogRow *row);

// Returns a short English phrase for `problem`, to follow "skipped: ".
const char *RowProblemText(RowProblem problem);
