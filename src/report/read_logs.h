// Reading the daily logs named on the command line into a summary.
#pragma once

#include "log_summary.h"

#include <cstdio>

// Adds the `count` daily logs at `paths` whose dates lie inside the window
// of `summary` to `summary->files`, in the order of their dates (the order
// given among files of one date), and counts the others in
// `summary->filesOutside`; they are never opened. Returns false after
// naming on `problems` (unless null) each file whose name is no daily log's.
bool AddLogFiles(LogSummary *summary, char *const *paths, int count, FILE *problems);

// The file that stopped ReadLogFiles, and errno's reason.
struct LogReadFailure {
    size_t file = 0;  // in `files` of the summary
    int error = 0;
};

// Reads every row of the files of `summary` into it, several files at once
// on as many threads as the machine runs at a time; the summary is what
// reading them one after another would give. Each line that is no row is
// skipped, counted, and named on `problems` with its file and line number,
// in the order of the files. Returns false after naming on `problems` the
// first file that could not be read, and telling `failure` of it unless
// that is null; lines of later files are not named. A null `problems` is
// told nothing.
bool ReadLogFiles(LogSummary *summary, FILE *problems, LogReadFailure *failure);
