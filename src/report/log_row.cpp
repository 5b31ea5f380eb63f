#include "log_row.h"

#include <cstring>

namespace {

// Reads exactly two decimal digits at `text`, at most `limit`.
bool ReadClockPart(const char *text, unsigned limit, int64_t *value) {
    if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return false;
    const unsigned number = static_cast<unsigned>((text[0] - '0') * 10 + (text[1] - '0'));
    if (number > limit) return false;
    *value = number;
    return true;
}

// Reads "hh:mm:ss" as the second of the day.
bool ReadTimeOfDay(const char *text, size_t length, int64_t *secondOfDay) {
    int64_t hour, minute, second;
    if (length != 8 || text[2] != ':' || text[5] != ':') return false;
    if (!ReadClockPart(text, 23, &hour) || !ReadClockPart(text + 3, 59, &minute) ||
        !ReadClockPart(text + 6, 59, &second)) {
        return false;
    }
    *secondOfDay = hour * 3600 + minute * 60 + second;
    return true;
}

// Reads the round-trip field: "-1" for a failure, else an unsigned 32-bit
// decimal number of milliseconds.
bool ReadRoundTrip(const char *text, size_t length, bool *answered, uint32_t *rttMs) {
    if (length == 2 && text[0] == '-' && text[1] == '1') {
        *answered = false;
        *rttMs = 0;
        return true;
    }
    if (length == 0 || length > 10) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (value > UINT32_MAX) return false;
    *answered = true;
    *rttMs = static_cast<uint32_t>(value);
    return true;
}

// Returns true when a byte of `text` other than a tab is a control character.
bool HasControlCharacter(const char *text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char code = static_cast<unsigned char>(text[i]);
        if ((code < 0x20 && code != '\t') || code == 0x7F) return true;
    }
    return false;
}

}  // namespace

RowProblem ParseLogRow(const char *line, size_t length, LogRow *row) {
    if (length > 0 && line[length - 1] == '\r') --length;
    if (HasControlCharacter(line, length)) return RowProblem::kControl;
    const char *end = line + length;
    const char *field[4];
    size_t fieldLength[4];
    const char *at = line;
    for (int i = 0; i < 4; ++i) {
        const void *tab = std::memchr(at, '\t', static_cast<size_t>(end - at));
        const char *stop = tab == nullptr ? end : static_cast<const char *>(tab);
        if ((i < 3) != (tab != nullptr)) return RowProblem::kFields;
        field[i] = at;
        fieldLength[i] = static_cast<size_t>(stop - at);
        at = stop + 1;
    }
    if (!ReadTimeOfDay(field[0], fieldLength[0], &row->secondOfDay)) return RowProblem::kTime;
    if (!ReadRoundTrip(field[2], fieldLength[2], &row->answered, &row->rttMs)) {
        return RowProblem::kRoundTrip;
    }
    if (row->answered != (fieldLength[3] == 0)) return RowProblem::kDetail;
    row->target = field[1];
    row->targetLength = fieldLength[1];
    row->detail = field[3];
    row->detailLength = fieldLength[3];
    return RowProblem::kNone;
}

const char *RowProblemText(RowProblem problem) {
    switch (problem) {
    case RowProblem::kNone: return "no problem";
    case RowProblem::kPartial: return "a partial last line, without its line end";
    case RowProblem::kTooLong: return "longer than any row";
    case RowProblem::kControl: return "a control character inside a field";
    case RowProblem::kFields: return "not four tab-separated fields";
    case RowProblem::kTime: return "no time of day (hh:mm:ss)";
    case RowProblem::kRoundTrip: return "no round-trip time (milliseconds, or -1)";
    case RowProblem::kDetail: return "the round-trip time and the detail disagree";
    }
    return "unknown problem";
}
