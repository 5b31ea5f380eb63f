// The quick way through a daily log: a row exactly as the monitor writes
// it, of a target and with a failure text that the log has shown before,
// read in one pass. Whatever it refuses is read the careful way
// (ParseLogRow), which also says what is wrong.
#pragma once

#include "line_reader.h"
#include "log_row.h"
#include "name_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct PlainRow {
    LogRow row;
    uint32_t target;  // its number in the target names
    uint32_t text;    // of its failure text in the text names; 0 for an answer
    char clock[8];    // its "hh:mm:ss", to be compared with the next row's
};

// Makes `plain` ready for ReadPlainRow.
void StartPlainRows(PlainRow *plain);

// Reads the line at `line` into `plain` when it is a row that ParseLogRow
// would take, ends in a carriage return and a line feed before `end`, and
// has a target in `targets` and a failure text in `texts`, which hold only
// names of such rows. The byte at `end` must be a line feed, and the
// padding of line_reader.h must follow it. `plain` holds what was read of
// the row before, or comes from StartPlainRows: rows in the same second
// share the reading of their time. Returns the length of the line with its
// line feed, or 0 when it is no such row.
inline size_t ReadPlainRow(const char *line, const char *end, const NameTable &targets,
                           const NameTable &texts, PlainRow *plain);

// What follows is ReadPlainRow's, inline as it runs once for each row.

// Returns the value of the decimal digit `c`, or a number above 9.
inline unsigned PlainDigit(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Returns the first byte `c` at `at` before `end`, searching no further
// than `most` bytes, or null.
inline const char *FindPlainByte(const char *at, const char *end, char c, size_t most) {
    return static_cast<const char *>(
        std::memchr(at, c, std::min(static_cast<size_t>(end - at), most)));
}

inline size_t ReadPlainRow(const char *line, const char *end, const NameTable &targets,
                           const NameTable &texts, PlainRow *plain) {
    LogRow &row = plain->row;
    // "hh:mm:ss\t"; each test fails on the line feed after the buffered bytes.
    if (line[8] != '\t') return 0;
    if (std::memcmp(line, plain->clock, 8) != 0) {
        const unsigned h1 = PlainDigit(line[0]), h2 = PlainDigit(line[1]);
        if (h1 > 2 || h2 > 9 || line[2] != ':') return 0;
        const unsigned m1 = PlainDigit(line[3]), m2 = PlainDigit(line[4]);
        if (m1 > 5 || m2 > 9 || line[5] != ':') return 0;
        const unsigned s1 = PlainDigit(line[6]), s2 = PlainDigit(line[7]);
        if (s1 > 5 || s2 > 9) return 0;
        const unsigned hour = h1 * 10 + h2;
        if (hour > 23) return 0;
        row.secondOfDay = static_cast<int64_t>(hour * 3600 + (m1 * 10 + m2) * 60 + s1 * 10 + s2);
        std::memcpy(plain->clock, line, 8);
    }

    // A known target has no control character and no tab: what the tab
    // after it encloses is the whole field.
    const char *target = line + 9;
    const char *tab = FindPlainByte(target, end, '\t', targets.longest + 1);
    if (tab == nullptr) return 0;
    row.target = target;
    row.targetLength = static_cast<size_t>(tab - target);
    plain->target = FindName(targets, target, row.targetLength);
    if (plain->target == kNoName) return 0;

    const char *rtt = tab + 1, *detail;
    if (rtt[0] == '-') {
        if (rtt[1] != '1' || rtt[2] != '\t') return 0;
        row.answered = false;
        row.rttMs = 0;
        detail = rtt + 3;
    } else {
        uint64_t value = 0;
        const char *digit = rtt;
        for (; PlainDigit(*digit) <= 9; ++digit) value = value * 10 + PlainDigit(*digit);
        const size_t digits = static_cast<size_t>(digit - rtt);
        if (digits == 0 || digits > 10 || *digit != '\t' || value > UINT32_MAX) return 0;
        row.answered = true;
        row.rttMs = static_cast<uint32_t>(value);
        detail = digit + 1;
    }

    // An answer has no detail; a failure has a known text, which holds no
    // control character either.
    const char *lineEnd = detail;
    plain->text = 0;
    if (!row.answered) {
        lineEnd = FindPlainByte(detail, end, '\r', texts.longest + 1);
        if (lineEnd == nullptr) return 0;
        plain->text = FindName(texts, detail, static_cast<size_t>(lineEnd - detail));
        if (plain->text == kNoName) return 0;
    }
    if (lineEnd[0] != '\r' || lineEnd + 1 >= end || lineEnd[1] != '\n') return 0;
    row.detail = detail;
    row.detailLength = static_cast<size_t>(lineEnd - detail);
    const size_t length = static_cast<size_t>(lineEnd + 2 - line);
    return length - 1 <= kLongestRow ? length : 0;
}
