#include "time_window.h"

#include "calendar.h"

#include <cstring>

bool ParseMoment(const char *text, int64_t *seconds) {
    const size_t length = std::strlen(text);
    unsigned year, month, day;
    if (length < 10 || text[4] != '-' || text[7] != '-' || !ReadDigits(text, 4, &year) ||
        !ReadDigits(text + 5, 2, &month) || !ReadDigits(text + 8, 2, &day) ||
        !IsCivilDate(year, month, day)) {
        return false;
    }
    int64_t moment = DaysFromCivil(year, month, day) * kSecondsPerDay;
    if (length > 10) {
        // "Thh:mm", then ":ss" and "Z", each if present.
        const char *clock = text + 11;
        const size_t rest = length - 11;
        unsigned hour, minute, second = 0;
        if ((text[10] != 'T' && text[10] != ' ') || rest < 5 || clock[2] != ':' ||
            !ReadDigits(clock, 2, &hour) || !ReadDigits(clock + 3, 2, &minute) || hour > 23 ||
            minute > 59) {
            return false;
        }
        size_t used = 5;
        if (rest >= 8 && clock[5] == ':') {
            if (!ReadDigits(clock + 6, 2, &second) || second > 59) return false;
            used = 8;
        }
        if (rest > used && clock[used] == 'Z') ++used;
        if (rest != used) return false;
        moment += hour * 3600 + minute * 60 + second;
    }
    *seconds = moment;
    return true;
}

bool ParseWindowEdge(const char *text, WindowEdge *edge) {
    const size_t length = std::strlen(text);
    if (length >= 2 && length <= 10 && std::strchr("smhd", text[length - 1]) != nullptr) {
        unsigned count;
        if (!ReadDigits(text, length - 1, &count)) return false;
        int64_t unit = 1;
        switch (text[length - 1]) {
        case 'm': unit = 60; break;
        case 'h': unit = 3600; break;
        case 'd': unit = kSecondsPerDay; break;
        }
        edge->given = true;
        edge->beforeNow = true;
        edge->seconds = count * unit;
        return true;
    }
    int64_t moment;
    if (!ParseMoment(text, &moment)) return false;
    edge->given = true;
    edge->beforeNow = false;
    edge->seconds = moment;
    return true;
}

int64_t EdgeMoment(const WindowEdge &edge, int64_t now) {
    return edge.beforeNow ? now - edge.seconds : edge.seconds;
}

bool IsWindowed(const TimeWindow &window) { return window.hasSince || window.hasUntil; }

bool WindowHoldsDay(const TimeWindow &window, int64_t day) {
    const int64_t start = day * kSecondsPerDay;
    return start < window.until && start + kSecondsPerDay > window.since;
}
