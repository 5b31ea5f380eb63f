#include "calendar.h"

#include "report_platform.h"

#include <cstdio>
#include <cstring>

namespace {

struct CivilDate {
    int64_t year;
    unsigned month, day;
};

// Returns the date `days` after 1970-01-01. Counts in eras of 400 years,
// which repeat the calendar exactly, each starting on a 1st of March so
// that the leap day ends a year.
CivilDate CivilFromDays(int64_t days) {
    const int64_t z = days + 719468;
    const int64_t era = FloorDivide(z, 146097);
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
    CivilDate date;
    date.day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    date.month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

}  // namespace

bool ReadDigits(const char *text, size_t count, unsigned *value) {
    unsigned result = 0;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *value = result;
    return true;
}

int64_t FloorDivide(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = FloorDivide(y, 400);
    const int64_t yearOfEra = y - era * 400;
    const int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;  // 0 is March
    const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool IsCivilDate(int64_t year, unsigned month, unsigned day) {
    static const unsigned kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1]) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

bool ParseLogFileDate(const char *path, int64_t *day) {
    const char *name = FileNameOf(path);
    // "YYYY-MM-DD.tsv"
    if (std::strlen(name) != 14 || name[4] != '-' || name[7] != '-' ||
        std::strcmp(name + 10, ".tsv") != 0) {
        return false;
    }
    unsigned year, month, dayOfMonth;
    if (!ReadDigits(name, 4, &year) || !ReadDigits(name + 5, 2, &month) ||
        !ReadDigits(name + 8, 2, &dayOfMonth) || !IsCivilDate(year, month, dayOfMonth)) {
        return false;
    }
    *day = DaysFromCivil(year, month, dayOfMonth);
    return true;
}

void FormatUtc(int64_t seconds, UtcStyle style, char *out, size_t size) {
    const int64_t days = FloorDivide(seconds, kSecondsPerDay);
    const int64_t ofDay = seconds - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    const long long year = date.year;
    const unsigned hour = static_cast<unsigned>(ofDay / 3600);
    const unsigned minute = static_cast<unsigned>(ofDay / 60 % 60);
    const unsigned second = static_cast<unsigned>(ofDay % 60);
    switch (style) {
    case UtcStyle::kReadable:
        std::snprintf(out, size, "%04lld-%02u-%02u %02u:%02u:%02u", year, date.month, date.day,
                      hour, minute, second);
        break;
    case UtcStyle::kIso:
        std::snprintf(out, size, "%04lld-%02u-%02uT%02u:%02u:%02uZ", year, date.month, date.day,
                      hour, minute, second);
        break;
    case UtcStyle::kDate:
        std::snprintf(out, size, "%04lld-%02u-%02u", year, date.month, date.day);
        break;
    case UtcStyle::kHour:
        std::snprintf(out, size, "%04lld-%02u-%02u %02u:00", year, date.month, date.day, hour);
        break;
    case UtcStyle::kClock:
        std::snprintf(out, size, "%02u:%02u", hour, minute);
        break;
    }
}

void FormatDuration(int64_t seconds, char *out, size_t size) {
    const long long days = seconds / kSecondsPerDay;
    const long long rest = seconds % kSecondsPerDay;
    if (days > 0) {
        std::snprintf(out, size, "%lldd %02lld:%02lld:%02lld", days, rest / 3600, rest / 60 % 60,
                      rest % 60);
    } else {
        std::snprintf(out, size, "%lld:%02lld:%02lld", rest / 3600, rest / 60 % 60, rest % 60);
    }
}
