// The daily log: one tab-separated file per UTC day in the working folder,
// one row per probe cycle, appended and never rewritten.
#pragma once

#include "platform.h"
#include "probe_outcome.h"

#include <cstddef>
#include <cstdio>

// Returns true when `target` can stand in every row as it is; otherwise
// false, with one sentence in `problem` (always terminated, at most `size`
// bytes) that says why not.
bool TargetFitsLog(const char *target, char *problem, size_t size);

// The stream buffer a log needs: larger than the longest row, which holds
// the longest target text the platform can pass plus the other three fields
// (five-digit time parts at most, "-1" or a ten-digit round-trip time, a
// status text or code, and the line end).
const size_t kLogBufferSize = kLongestArgument + 256;

// Opens for appending the log of the day `stamp` falls on (UTC), creating
// it when missing, with `buffer` (kLogBufferSize bytes, alive until the log
// is closed) as its stream buffer. Returns null when it can't be opened; the
// cycle then goes on without a row.
FILE *OpenDailyLog(const SYSTEMTIME &stamp, char *buffer);

// Appends the row for `outcome` to `log`. Writes nothing when `log` is null.
// Failures are ignored: the next cycle tries again.
void AppendLogRow(FILE *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome);

// Closes `log`, which hands its row to the file whole, in one write, so rows
// of other writers of the same file never come inside it. Does nothing when
// `log` is null.
void CloseDailyLog(FILE *log);
