// The report's parts that a fixture log shows poorly: row parsing at the
// edges of each field, dates, percentiles and reading awkward lines.
#include "calendar.h"
#include "line_reader.h"
#include "log_row.h"
#include "platform.h"  // kPathSeparator
#include "rtt_histogram.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct RowCase {
    const char *name;
    std::string line;  // without its line feed
    int64_t secondOfDay;
    const char *target;
    bool answered;
    uint32_t rttMs;
    const char *detail;
};

const RowCase kRows[] = {
    {"answer", "09:30:15\t127.0.0.1\t7\t\r", 34215, "127.0.0.1", true, 7, ""},
    {"failure with a text", "23:59:59\t10.77.0.2\t-1\tRequest timed-out.\r", 86399, "10.77.0.2",
     false, 0, "Request timed-out."},
    {"failure with a code", "00:00:00\tx\t-1\t120\r", 0, "x", false, 0, "120"},
    {"largest round trip", "00:00:01\tx\t4294967295\t\r", 1, "x", true, 4294967295u, ""},
    {"empty target, as the monitor writes it", "00:00:01\t\t-1\tDestination is invalid.\r", 1, "",
     false, 0, "Destination is invalid."},
    {"bytes above ASCII in the target", "00:00:01\t\xc3\xa9\xff\t3\t\r", 1, "\xc3\xa9\xff", true, 3,
     ""},
    {"line feed alone", "00:00:01\tx\t3\t", 1, "x", true, 3, ""},
};

TEST(LogRow, EachFieldIsRead) {
    for (const RowCase &c : kRows) {
        SCOPED_TRACE(c.name);
        LogRow row;
        ASSERT_EQ(ParseLogRow(c.line.data(), c.line.size(), &row), RowProblem::kNone);
        EXPECT_EQ(row.secondOfDay, c.secondOfDay);
        EXPECT_EQ(std::string(row.target, row.targetLength), c.target);
        EXPECT_EQ(row.answered, c.answered);
        EXPECT_EQ(row.rttMs, c.rttMs);
        EXPECT_EQ(std::string(row.detail, row.detailLength), c.detail);
    }
}

TEST(LogRow, WhatIsNoRowIsRefusedWithItsReason) {
    const struct {
        const char *name;
        std::string line;
        RowProblem problem;
    } cases[] = {
        {"round trip too large", "00:00:01\tx\t4294967296\t\r", RowProblem::kRoundTrip},
        {"signed round trip", "00:00:01\tx\t+3\t\r", RowProblem::kRoundTrip},
        {"other negative round trip", "00:00:01\tx\t-2\tRequest timed-out.\r", RowProblem::kRoundTrip},
        {"empty round trip", "00:00:01\tx\t\t\r", RowProblem::kRoundTrip},
        {"hour 24", "24:00:00\tx\t3\t\r", RowProblem::kTime},
        {"second 60", "23:59:60\tx\t3\t\r", RowProblem::kTime},
        {"one-digit hour", "9:30:15\tx\t3\t\r", RowProblem::kTime},
        {"date and time", "2026-12-01 09:30:15\tx\t3\t\r", RowProblem::kTime},
        {"three fields", "09:30:15\tx\t3\r", RowProblem::kFields},
        {"five fields", "09:30:15\tx\t3\t\t\r", RowProblem::kFields},
        {"a target with a tab shifts the columns", "09:30:15\ta\tb\t3\t\r", RowProblem::kFields},
        {"answer with a detail", "09:30:15\tx\t3\tRequest timed-out.\r", RowProblem::kDetail},
        {"failure without a detail", "09:30:15\tx\t-1\t\r", RowProblem::kDetail},
        {"carriage return inside", "09:30:15\tx\r\t3\t\r", RowProblem::kControl},
        {"NUL inside", std::string("09:30:15\tx\0y\t3\t\r", 17), RowProblem::kControl},
        {"two rows run together", "09:30:15\tx\t-1\tRequest timed-out.\r09:30:17\tx\t3\t\r",
         RowProblem::kControl},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LogRow row;
        EXPECT_EQ(ParseLogRow(c.line.data(), c.line.size(), &row), c.problem);
    }
}

TEST(Calendar, FileNamesGiveRealDatesOnly) {
    const struct {
        const char *path;
        bool named;
        const char *date;
    } cases[] = {
        {"2026-12-31.tsv", true, "2026-12-31"},
        {"/var/log/vesperix/1970-01-01.tsv", true, "1970-01-01"},
        {"logs/2024-02-29.tsv", true, "2024-02-29"},
        {"2000-02-29.tsv", true, "2000-02-29"},
        {"0999-02-03.tsv", true, "0999-02-03"},
        {"2026-02-29.tsv", false, nullptr},
        {"2100-02-29.tsv", false, nullptr},
        {"2026-04-31.tsv", false, nullptr},
        {"2026-13-01.tsv", false, nullptr},
        {"2026-12-01.tsv.bak", false, nullptr},
        {"2026-12-01.csv", false, nullptr},
        {"2026-12-1.tsv", false, nullptr},
        {"2026-12-01.tsv/", false, nullptr},
        {"notes.tsv", false, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        int64_t day = 0;
        ASSERT_EQ(ParseLogFileDate(c.path, &day), c.named);
        if (!c.named) continue;
        char text[32];
        FormatUtc(day * kSecondsPerDay, UtcStyle::kDate, text, sizeof text);
        EXPECT_STREQ(text, c.date);
    }
}

TEST(Calendar, APathWithThePlatformsOwnSeparatorNamesItsFile) {
    // As the monitor's own paths are formed, a backslash on Windows.
    const std::string path = std::string("logs") + kPathSeparator + "2026-12-31.tsv";
    int64_t day = 0;
    ASSERT_TRUE(ParseLogFileDate(path.c_str(), &day));
    EXPECT_EQ(day, DaysFromCivil(2026, 12, 31));
}

TEST(Calendar, MomentsAndSpansAreWrittenInUtc) {
    const int64_t lastSecondOf2026 = DaysFromCivil(2026, 12, 31) * kSecondsPerDay + 86399;
    char text[32];
    FormatUtc(lastSecondOf2026, UtcStyle::kIso, text, sizeof text);
    EXPECT_STREQ(text, "2026-12-31T23:59:59Z");
    FormatUtc(lastSecondOf2026 + 1, UtcStyle::kReadable, text, sizeof text);
    EXPECT_STREQ(text, "2027-01-01 00:00:00");
    FormatUtc(-1, UtcStyle::kReadable, text, sizeof text);
    EXPECT_STREQ(text, "1969-12-31 23:59:59");
    FormatDuration(59, text, sizeof text);
    EXPECT_STREQ(text, "0:00:59");
    FormatDuration(86399, text, sizeof text);
    EXPECT_STREQ(text, "23:59:59");
    FormatDuration(2 * 86400 + 3661, text, sizeof text);
    EXPECT_STREQ(text, "2d 01:01:01");
}

// Counts `values` into a histogram.
std::vector<uint64_t> Counted(const std::vector<uint32_t> &values) {
    std::vector<uint64_t> counts(kRttBuckets, 0);
    for (uint32_t value : values) ++counts[RttBucket(value)];
    return counts;
}

TEST(RttHistogram, PercentilesAreNearestRank) {
    const struct {
        std::vector<uint32_t> values;
        unsigned percent;
        uint32_t expected;
    } cases[] = {
        {{7}, 50, 7},
        {{7}, 99, 7},
        {{1, 2}, 50, 1},  // the lower of two middles
        {{1, 2, 3}, 50, 2},
        {{0, 0, 0, 1000}, 95, 1000},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 95, 19},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 99, 20},
        // Above the top only the largest is known, and none exceeds it.
        {{5, 1500, 3000}, 50, 3000},
        {{5, 1500, 3000}, 99, 3000},
    };
    for (const auto &c : cases) {
        const std::vector<uint64_t> counts = Counted(c.values);
        uint32_t largest = 0;
        for (uint32_t value : c.values) largest = std::max(largest, value);
        EXPECT_EQ(RttPercentile(counts.data(), c.values.size(), c.percent, largest), c.expected)
            << c.percent << "% of " << c.values.size() << " values";
    }
}

TEST(RttHistogram, MeanDeviationIsExactWhileTheMeanIsWithinTheTop) {
    // 1, 1, 4, 2000: mean 501.5, deviations 500.5, 500.5, 497.5, 1498.5.
    const std::vector<uint64_t> counts = Counted({1, 1, 4, 2000});
    EXPECT_DOUBLE_EQ(RttMeanDeviation(counts.data(), 4, 501.5, 2000), 2997.0 / 4);
}

// A file holding `bytes`, read back line by line.
std::vector<std::pair<LineResult, std::string>> LinesOf(const std::string &bytes) {
    FILE *file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    static LineReader reader;
    StartLines(&reader, file);
    std::vector<std::pair<LineResult, std::string>> lines;
    for (int i = 0; i < 10; ++i) {
        const char *line = nullptr;
        size_t length = 0;
        const LineResult result = ReadLine(&reader, &line, &length);
        if (result == LineResult::kEnd) break;
        const bool kept = result == LineResult::kLine || result == LineResult::kPartial;
        lines.emplace_back(result, kept ? std::string(line, length) : std::string());
    }
    std::fclose(file);
    return lines;
}

TEST(LineReader, LongLinesAreDroppedAndTheRestStaysInStep) {
    const std::string longest(kLongestRow, 'x');
    const std::string tooLong(kLongestRow + 1, 'y');
    const std::string hugeWithoutEnd(3 * kLongestRow, 'z');
    using Lines = std::vector<std::pair<LineResult, std::string>>;
    EXPECT_EQ(LinesOf("a\nb\r\n"), (Lines{{LineResult::kLine, "a"}, {LineResult::kLine, "b\r"}}));
    EXPECT_EQ(LinesOf("a\nb\r"), (Lines{{LineResult::kLine, "a"}, {LineResult::kPartial, "b\r"}}));
    EXPECT_EQ(LinesOf(std::string("a\0b\n", 4)), (Lines{{LineResult::kLine, std::string("a\0b", 3)}}));
    EXPECT_EQ(LinesOf(longest + "\n" + tooLong + "\nc\n"),
              (Lines{{LineResult::kLine, longest}, {LineResult::kTooLong, ""}, {LineResult::kLine, "c"}}));
    EXPECT_EQ(LinesOf("a\n" + hugeWithoutEnd), (Lines{{LineResult::kLine, "a"}, {LineResult::kTooLong, ""}}));
    EXPECT_EQ(LinesOf(""), Lines{});
}

}  // namespace
