// Reads a file line by line through one fixed buffer, whatever the lines
// hold (NUL bytes included) and however long they are. The lines buffered
// can also be scanned in place, many at a time.
#pragma once

#include "daily_log.h"

#include <cstdint>
#include <cstdio>

// No row of a monitor's is longer than its log's stream buffer, which is
// longest on Linux, whose arguments are the longest (32 pages less the
// terminating zero): a log, wherever it was written, reads the same
// wherever the report runs.
const size_t kLongestRow = 32 * 4096 - 1 + 256;
static_assert(kLongestRow >= kLogBufferSize, "a row of this platform's monitor must be read");

// What one read asks for: tens of thousands of rows, and always room for
// the longest row with the bytes before it.
const size_t kReadBlock = size_t{1} << 20;
static_assert(kReadBlock >= 2 * kLongestRow, "a read must hold a whole row");

// The readable bytes after the buffered ones: a line feed, then room for
// a scan to look a little ahead without checking where the bytes end.
const size_t kLinePadding = 64;

struct LineReader {
    FILE *file;
    size_t start, end;        // the unread bytes in `block`
    bool atEnd;               // the file has no more bytes
    bool skipping;            // inside a line too long to keep
    uint64_t lineNumber;      // of the line last returned, from 1
    char block[kReadBlock + kLinePadding];
};

enum class LineResult {
    kLine,     // a whole line, ended by a line feed
    kPartial,  // the last line, cut off before its line feed
    kTooLong,  // a line longer than kLongestRow, dropped
    kEnd,      // no more lines
    kError,    // the file could not be read; errno says why
};

// Starts reading `file` from its current position.
void StartLines(LineReader *reader, FILE *file);

// Reads the next line. For kLine and kPartial, `line` and `length` give its
// bytes without the line feed, valid until the next call.
LineResult ReadLine(LineReader *reader, const char **line, size_t *length);

// Gives the bytes buffered and not yet read, from `*begin` to `*end`. A line
// feed follows them, then kLinePadding - 1 more bytes that may be read.
// They are valid until the next call of ReadLine.
void BufferedBytes(const LineReader *reader, const char **begin, const char **end);

// Takes the first `bytes` of the buffered bytes, `lines` whole lines, as read.
void SkipBufferedLines(LineReader *reader, size_t bytes, uint64_t lines);
