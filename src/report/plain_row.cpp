#include "plain_row.h"

#include "line_reader.h"

#include <algorithm>
#include <cstring>

namespace {

// Returns the value of the decimal digit `c`, or a number above 9.
inline unsigned Digit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// Returns the first byte `c` at `at` before `end`, searching no further
// than `most` bytes, or null.
inline const char *Find(const char *at, const char *end, char c, size_t most) {
    return static_cast<const char *>(
        std::memchr(at, c, std::min(static_cast<size_t>(end - at), most)));
}

}  // namespace

void StartPlainRows(PlainRow *plain) {
    *plain = PlainRow{};
    // A clock only ever holds a time that was read, with its second.
    std::memcpy(plain->clock, "00:00:00", 8);
    plain->row.secondOfDay = 0;
}

size_t ReadPlainRow(const char *line, const char *end, const NameTable &targets,
                    const NameTable &texts, PlainRow *plain) {
    LogRow &row = plain->row;
    // "hh:mm:ss\t"; each test fails on the line feed after the buffered bytes.
    if (line[8] != '\t') return 0;
    if (std::memcmp(line, plain->clock, 8) != 0) {
        const unsigned h1 = Digit(line[0]), h2 = Digit(line[1]);
        if (h1 > 2 || h2 > 9 || line[2] != ':') return 0;
        const unsigned m1 = Digit(line[3]), m2 = Digit(line[4]);
        if (m1 > 5 || m2 > 9 || line[5] != ':') return 0;
        const unsigned s1 = Digit(line[6]), s2 = Digit(line[7]);
        if (s1 > 5 || s2 > 9) return 0;
        const unsigned hour = h1 * 10 + h2;
        if (hour > 23) return 0;
        row.secondOfDay = static_cast<int64_t>(hour * 3600 + (m1 * 10 + m2) * 60 + s1 * 10 + s2);
        std::memcpy(plain->clock, line, 8);
    }

    // A known target has no control character and no tab: what the tab
    // after it encloses is the whole field.
    const char *target = line + 9;
    const char *tab = Find(target, end, '\t', targets.longest + 1);
    if (tab == nullptr) return 0;
    row.target = target;
    row.targetLength = static_cast<size_t>(tab - target);
    plain->target = FindName(targets, target, row.targetLength);
    if (plain->target == kNoName) return 0;

    const char *rtt = tab + 1, *detail;
    if (rtt[0] == '-') {
        if (rtt[1] != '1' || rtt[2] != '\t') return 0;
        row.answered = false;
        row.rttMs = 0;
        detail = rtt + 3;
    } else {
        uint64_t value = 0;
        const char *digit = rtt;
        for (; Digit(*digit) <= 9; ++digit) value = value * 10 + Digit(*digit);
        const size_t digits = static_cast<size_t>(digit - rtt);
        if (digits == 0 || digits > 10 || *digit != '\t' || value > UINT32_MAX) return 0;
        row.answered = true;
        row.rttMs = static_cast<uint32_t>(value);
        detail = digit + 1;
    }

    // An answer has no detail; a failure has a known text, which holds no
    // control character either.
    const char *lineEnd = detail;
    plain->text = 0;
    if (!row.answered) {
        lineEnd = Find(detail, end, '\r', texts.longest + 1);
        if (lineEnd == nullptr) return 0;
        plain->text = FindName(texts, detail, static_cast<size_t>(lineEnd - detail));
        if (plain->text == kNoName) return 0;
    }
    if (lineEnd[0] != '\r' || lineEnd + 1 >= end || lineEnd[1] != '\n') return 0;
    row.detail = detail;
    row.detailLength = static_cast<size_t>(lineEnd - detail);
    const size_t length = static_cast<size_t>(lineEnd + 2 - line);
    return length - 1 <= kLongestRow ? length : 0;
}

size_t AddPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows) {
    PlainRow plain;
    StartPlainRows(&plain);
    const char *at = begin;
    uint64_t count = 0;
    for (size_t length;
         at < end && (length = ReadPlainRow(at, end, part->targetNames, part->textNames, &plain)) != 0;
         at += length) {
        AddNumberedRow(part, plain.target, plain.text, plain.row);
        ++count;
    }
    *rows = count;
    return static_cast<size_t>(at - begin);
}
