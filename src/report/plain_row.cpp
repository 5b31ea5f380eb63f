#include "plain_row.h"

void StartPlainRows(PlainRow *plain) {
    *plain = PlainRow{};
    // A clock only ever holds a time that was read, with its second.
    std::memcpy(plain->clock, "00:00:00", 8);
    plain->row.secondOfDay = 0;
}
