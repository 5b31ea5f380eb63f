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

// Opens for appending the log of the day `stamp` falls on (UTC), creating
// it when missing. Returns null when it can't be opened; the cycle then
// goes on without a row.
FILE *OpenDailyLog(const SYSTEMTIME &stamp);

// Appends the row for `outcome` to `log`, whole, with one write, so rows of
// other writers of the same file never come inside it. Writes nothing when
// `log` is null. Failures are ignored: the next cycle tries again.
void AppendLogRow(FILE *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome);

// Closes `log`; does nothing when it is null.
void CloseDailyLog(FILE *log);
