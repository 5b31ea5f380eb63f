// The quick way through a daily log: a row exactly as the monitor writes
// it, of a target and with a failure text that the log has shown before,
// read in one pass. Whatever it refuses is read the careful way
// (ParseLogRow), which also says what is wrong.
#pragma once

#include "log_part.h"
#include "log_row.h"
#include "name_table.h"

#include <cstddef>
#include <cstdint>

struct PlainRow {
    LogRow row;
    uint32_t target;  // its number in the target names
    uint32_t text;    // of its failure text in the text names; 0 for an answer
    char clock[8];    // its "hh:mm:ss", to be compared with the next row's
};

// Reads the line at `line` into `plain` when it is a row that ParseLogRow
// would take, ends in a carriage return and a line feed before `end`, and
// has a target in `targets` and a failure text in `texts`, which hold only
// names of such rows. The byte at `end` must be a line feed, and the
// padding of line_reader.h must follow it. `plain` holds what was read of
// the row before, or comes from StartPlainRows: rows in the same second
// share the reading of their time. Returns the length of the line with its
// line feed, or 0 when it is no such row.
// Makes `plain` ready for ReadPlainRow.
void StartPlainRows(PlainRow *plain);

size_t ReadPlainRow(const char *line, const char *end, const NameTable &targets,
                    const NameTable &texts, PlainRow *plain);

// Adds the rows from `begin` on that ReadPlainRow reads to `part`, up to
// the first line it refuses or `end`, which must be as for ReadPlainRow.
// Returns the number of bytes of those rows; counts the rows in `*rows`.
size_t AddPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows);
