// Reading the daily logs named on the command line into a summary.
#pragma once

#include "log_summary.h"

#include <cstdio>

// Adds the `count` daily logs at `paths` to `summary->files`, in the order of
// their dates (the order given among files of one date). Returns false after
// naming on `problems` each file whose name is no daily log's.
bool AddLogFiles(LogSummary *summary, char *const *paths, int count, FILE *problems);

// Reads every row of the files of `summary` into it, several files at once
// on as many threads as the machine runs at a time; the summary is what
// reading them one after another would give. Each line that is no row is
// skipped, counted, and named on `problems` with its file and line number,
// in the order of the files. Returns false after naming on `problems` the
// first file that could not be read; lines of later files are not named.
bool ReadLogFiles(LogSummary *summary, FILE *problems);
