// The UTC calendar from a count of seconds, against the C library's gmtime_r.
#include "platform.h"

#include <gtest/gtest.h>

#include <time.h>

#include <cstdint>

namespace {

struct Case {
    int64_t seconds;
    WORD year, month, day, hour, minute, second, weekday;
};

const Case kCases[] = {
    {0, 1970, 1, 1, 0, 0, 0, 4},
    {-1, 1969, 12, 31, 23, 59, 59, 3},
    {951782400, 2000, 2, 29, 0, 0, 0, 2},              // a leap day of a 400th year
    {4107542399, 2100, 2, 28, 23, 59, 59, 0},          // 2100 has no leap day
    {4107542400, 2100, 3, 1, 0, 0, 0, 1},
    {2147483647, 2038, 1, 19, 3, 14, 7, 2},            // past 32-bit time
    {2147483648, 2038, 1, 19, 3, 14, 8, 2},
    {253402300799, 9999, 12, 31, 23, 59, 59, 5},
    {1798761599, 2026, 12, 31, 23, 59, 59, 4},         // the last second of a year
    {1798761600, 2027, 1, 1, 0, 0, 0, 5},
};

TEST(UtcFromUnixTime, KnownInstants) {
    for (const Case &c : kCases) {
        SYSTEMTIME t {};
        UtcFromUnixTime(c.seconds, 999999999, &t);
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(t.wYear, c.year);
        EXPECT_EQ(t.wMonth, c.month);
        EXPECT_EQ(t.wDay, c.day);
        EXPECT_EQ(t.wHour, c.hour);
        EXPECT_EQ(t.wMinute, c.minute);
        EXPECT_EQ(t.wSecond, c.second);
        EXPECT_EQ(t.wDayOfWeek, c.weekday);
        EXPECT_EQ(t.wMilliseconds, 999);
    }
}

TEST(UtcFromUnixTime, AgreesWithGmtimeFrom1900To2400) {
    // Every day, at a second that moves through the day from one to the next.
    const int64_t first = -2208988800;  // 1900-01-01
    const int64_t last = 13569465600;   // 2400-01-01
    int64_t within = 0;
    for (int64_t day = first; day < last; day += 86400) {
        int64_t seconds = day + within;
        within = (within + 3607) % 86400;
        time_t value = static_cast<time_t>(seconds);
        struct tm expected {};
        ASSERT_NE(gmtime_r(&value, &expected), nullptr);
        SYSTEMTIME t {};
        UtcFromUnixTime(seconds, 0, &t);
        ASSERT_EQ(t.wYear, expected.tm_year + 1900) << seconds;
        ASSERT_EQ(t.wMonth, expected.tm_mon + 1) << seconds;
        ASSERT_EQ(t.wDay, expected.tm_mday) << seconds;
        ASSERT_EQ(t.wHour, expected.tm_hour) << seconds;
        ASSERT_EQ(t.wMinute, expected.tm_min) << seconds;
        ASSERT_EQ(t.wSecond, expected.tm_sec) << seconds;
        ASSERT_EQ(t.wDayOfWeek, expected.tm_wday) << seconds;
    }
}

}  // namespace
