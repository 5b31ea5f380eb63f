// Reading the rows of one daily log into a part of its own.
#pragma once

#include "line_reader.h"
#include "log_part.h"
#include "log_row.h"
#include "log_summary.h"

#include <cstdint>
#include <cstdio>

// Is told of each line that is no row: `context` as given, the line's
// number in the log, and what is wrong with it. Returns false to stop the
// reading.
typedef bool (*NoteSkippedLine)(void *context, uint64_t lineNumber, RowProblem problem);

// Reads every line of the open log `stream` through `reader`: its rows into
// `part`, counted in `file`, and each line that is no row counted and given
// to `note`. Returns false when the log could not be read to its end, with
// errno set, or when `note` stopped it.
bool ScanLog(LineReader *reader, FILE *stream, LogFile *file, LogPart *part, NoteSkippedLine note,
             void *context);
