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
// status text or code, and the line end), and the line end that may come
// before it.
const size_t kLogBufferSize = kLongestArgument + 256;

// Every path is formed within the platform's path limit.
const size_t kLogPathSize = 260;

// One cycle's hold on the day's log: the open file (null when it could not
// be opened, with the reason in `error`), its name, and the stream buffer
// that holds the row until the close writes it.
struct DailyLog {
    FILE *file;
    DWORD error;
    char path[kLogPathSize];
    char buffer[kLogBufferSize];
};

// What the monitor knows of its log from one cycle to the next: whether the
// last row failed to reach it. A fault is said once when it begins and once
// when it ends, never once a cycle.
struct LogHealth {
    bool failing;
};

// Opens into `log` for appending the log of the day `stamp` falls on (UTC),
// creating it when missing. When it can't be opened, log->file is null and
// the cycle goes on without a row.
void OpenDailyLog(const SYSTEMTIME &stamp, DailyLog *log);

// Appends the row for `outcome` to the open log, under the lock that every
// monitor writing the file takes until its close. A row always starts a line
// of its own: when the file ends inside a line (a write cut short by a full
// disk, say), a line end comes first, in the same write. Writes nothing when
// the log could not be opened.
void AppendLogRow(DailyLog *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome);

// Closes the log, which hands its row to the file whole, in one write, so rows
// of other writers of the same file never come inside it. When this cycle's
// row did not reach the file and the last one did, says so on standard error
// with the file and the system's reason; when it did and the last one did
// not, says that rows reach it again. Nothing else is ever said.
void CloseDailyLog(DailyLog *log, LogHealth *health);
