// Reads a file line by line through one fixed buffer, whatever the lines
// hold (NUL bytes included) and however long they are.
#pragma once

#include "daily_log.h"

#include <cstdint>
#include <cstdio>

// No row of the monitor's is longer than its log's stream buffer.
const size_t kLongestRow = kLogBufferSize;

struct LineReader {
    FILE *file;
    size_t start, end;        // the unread bytes in `block`
    bool atEnd;               // the file has no more bytes
    bool skipping;            // inside a line too long to keep
    uint64_t lineNumber;      // of the line last returned, from 1
    char block[2 * kLongestRow];
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
