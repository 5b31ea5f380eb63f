// The forms an edge of the window and a threshold of --check take, at the
// edges of each field.
#include "check_thresholds.h"
#include "time_window.h"

#include <gtest/gtest.h>

namespace {

const int64_t kDecember1 = 1796083200;  // 2026-12-01T00:00:00Z

TEST(WindowEdge, EachFormIsRead) {
    const struct {
        const char *text;
        bool beforeNow;
        int64_t seconds;
    } cases[] = {
        {"2026-12-01", false, kDecember1},
        {"2026-12-01T10:00:00Z", false, kDecember1 + 36000},
        {"2026-12-01T10:00:00", false, kDecember1 + 36000},
        {"2026-12-01 10:00:00", false, kDecember1 + 36000},
        {"2026-12-01T10:00Z", false, kDecember1 + 36000},
        {"2026-12-01T23:59:59Z", false, kDecember1 + 86399},
        {"2028-02-29", false, 1835395200},
        {"1969-12-31T23:59:59Z", false, -1},
        {"0s", true, 0},
        {"90s", true, 90},
        {"15m", true, 900},
        {"24h", true, 86400},
        {"7d", true, 604800},
        {"999999999d", true, INT64_C(999999999) * 86400},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        WindowEdge edge;
        ASSERT_TRUE(ParseWindowEdge(c.text, &edge));
        EXPECT_TRUE(edge.given);
        EXPECT_EQ(edge.beforeNow, c.beforeNow);
        EXPECT_EQ(edge.seconds, c.seconds);
    }
}

TEST(WindowEdge, WhatIsNoTimeIsRefused) {
    for (const char *text : {"", "m", "15", "15x", "-15m", "1.5h", "15 m", "1w", "1000000000s",
                             "2026-12-1", "2026-13-01", "2026-02-29", "2026-12-01T", "2026-12-01T10",
                             "2026-12-01T24:00:00Z", "2026-12-01T10:60Z", "2026-12-01T10:00:60Z",
                             "2026-12-01T10:00:00ZZ", "2026-12-01T10:00:00+01:00", "2026-12-01x",
                             "2026-12-01T10:00:0Z", "now"}) {
        SCOPED_TRACE(text);
        WindowEdge edge;
        EXPECT_FALSE(ParseWindowEdge(text, &edge));
        EXPECT_FALSE(edge.given);
    }
    int64_t moment;
    EXPECT_FALSE(ParseMoment("15m", &moment));  // --now takes moments alone
}

TEST(WindowEdge, ASpanCountsBackFromNow) {
    WindowEdge edge;
    ASSERT_TRUE(ParseWindowEdge("15m", &edge));
    EXPECT_EQ(EdgeMoment(edge, kDecember1), kDecember1 - 900);
    ASSERT_TRUE(ParseWindowEdge("2026-12-01", &edge));
    EXPECT_EQ(EdgeMoment(edge, 0), kDecember1);
}

TEST(TimeWindow, ADayIsInsideWhenAnyOfItIs) {
    const int64_t day = kDecember1 / 86400;
    TimeWindow window;
    EXPECT_TRUE(WindowHoldsDay(window, day));
    window.since = kDecember1 + 86399;  // its last second
    EXPECT_TRUE(WindowHoldsDay(window, day));
    EXPECT_FALSE(WindowHoldsDay(window, day - 1));
    window.since = kDecember1 + 86400;
    EXPECT_FALSE(WindowHoldsDay(window, day));
    window = TimeWindow();
    window.until = kDecember1;  // the day's first second lies outside
    EXPECT_FALSE(WindowHoldsDay(window, day));
    EXPECT_TRUE(WindowHoldsDay(window, day - 1));
    window.until = kDecember1 + 1;
    EXPECT_TRUE(WindowHoldsDay(window, day));
}

TEST(Thresholds, EachFormIsRead) {
    const struct {
        const char *text;
        int64_t rtt, loss;
        bool hasAvailability;
        int64_t availability;
    } cases[] = {
        {"100,20%", 100000, 20000, false, 0},
        {"100,20", 100000, 20000, false, 0},
        {"100.0,20%", 100000, 20000, false, 0},
        {"0.5,0%", 500, 0, false, 0},
        {"2.125,99.999%", 2125, 99999, false, 0},
        {"1000000,100%", 1000000000, 100000, false, 0},
        {"100,20%,99.5%", 100000, 20000, true, 99500},
        {"100,20%,95", 100000, 20000, true, 95000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        CheckThresholds thresholds;
        ASSERT_TRUE(ParseThresholds(c.text, &thresholds));
        EXPECT_TRUE(thresholds.given);
        EXPECT_EQ(thresholds.rttThousandths, c.rtt);
        EXPECT_EQ(thresholds.lossThousandths, c.loss);
        EXPECT_EQ(thresholds.hasAvailability, c.hasAvailability);
        EXPECT_EQ(thresholds.availabilityThousandths, c.availability);
    }
}

TEST(Thresholds, WhatIsNoThresholdIsRefused) {
    for (const char *text : {"", "100", "100,", ",20%", "100,20%%", "100,101%", "100,20%,", "-1,20%",
                             "1.2345,20%", "100,20.5.1%", "1e3,20%", "100 ,20%", "100,20% ", ".5,20%",
                             "5.,20%", "1000001,20%", "100,20%,95%,1", "inf,20%", "100;20%"}) {
        SCOPED_TRACE(text);
        CheckThresholds thresholds;
        EXPECT_FALSE(ParseThresholds(text, &thresholds));
        EXPECT_FALSE(thresholds.given);
    }
}

TEST(Thresholds, NumbersAreWrittenWithoutTrailingZeros) {
    const struct {
        int64_t thousandths;
        const char *text;
    } cases[] = {{0, "0"}, {20000, "20"}, {2500, "2.5"}, {2670, "2.67"}, {47619, "47.619"},
                 {1, "0.001"}, {100000, "100"}, {1000000000, "1000000"}};
    for (const auto &c : cases) {
        char text[32];
        FormatThousandths(c.thousandths, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

}  // namespace
