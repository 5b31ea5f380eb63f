#include "log_part.h"
#include "plain_row.h"

size_t AddWindowedPlainRows(LogPart *part, const char *begin, const char *end, uint64_t *rows) {
    PlainRow plain;
    StartPlainRows(&plain);
    const char *at = begin;
    uint64_t count = 0, outside = 0;
    // A row lies inside when its second, counted from the window's first
    // one, comes before the window's end: one test.
    const DayWindow day = DayWindowOf(*part);
    const uint64_t width = static_cast<uint64_t>(day.end - day.first);
    for (size_t length;
         at < end && (length = ReadPlainRow(at, end, part->targetNames, part->textNames, &plain)) != 0;
         at += length) {
        if (static_cast<uint64_t>(plain.row.secondOfDay - day.first) < width) {
            AddNumberedRow(part, plain.target, plain.row, plain.text);
        } else {
            ++outside;
        }
        ++count;
    }
    part->outsideRows += outside;
    *rows = count;
    return static_cast<size_t>(at - begin);
}
