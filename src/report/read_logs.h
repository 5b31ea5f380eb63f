// Reading the daily logs named on the command line into a summary.
#pragma once

#include "log_summary.h"

#include <cstdio>

// Adds the `count` daily logs at `paths` to `summary->files`, in the order of
// their dates (the order given among files of one date). Returns false after
// naming on `problems` each file whose name is no daily log's.
bool AddLogFiles(LogSummary *summary, char *const *paths, int count, FILE *problems);

// Reads every row of the files of `summary` into it. Each line that is no
// row is skipped, counted, and named on `problems` with its file and line
// number. Returns false after naming on `problems` the first file that
// could not be read.
bool ReadLogFiles(LogSummary *summary, FILE *problems);
