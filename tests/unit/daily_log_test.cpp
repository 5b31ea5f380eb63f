// The daily log's file names and rows, and the target texts it refuses.
#include "scripted_platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kLongest(kLongestArgument, 'x');

struct RowCase {
    const char *name;
    SYSTEMTIME stamp;
    std::string target;
    ScriptedEcho echo;
    std::string path;
    std::string row;
};

// One cycle per case: its time stamp and outcome become exactly this file
// name and these bytes.
const RowCase kRows[] = {
    {"answer", {2026, 12, 5, 11, 9, 30, 15, 250}, "127.0.0.1", {1, IP_SUCCESS, 7, 1},
     LogName("2026-12-11"), "09:30:15\t127.0.0.1\t7\t\r\n"},
    {"failure with a text", {2026, 12, 5, 11, 9, 30, 15, 250}, "10.77.0.2",
     {0, IP_REQ_TIMED_OUT, 0, 1}, LogName("2026-12-11"),
     "09:30:15\t10.77.0.2\t-1\tRequest timed-out.\r\n"},
    {"failure without a text", {2026, 12, 5, 11, 9, 30, 15, 250}, "10.77.0.2", {0, 120, 0, 1},
     LogName("2026-12-11"), "09:30:15\t10.77.0.2\t-1\t120\r\n"},
    {"error answer as a reply record", {2026, 12, 5, 11, 9, 30, 15, 250}, "10.77.0.2",
     {1, IP_DEST_HOST_UNREACHABLE, 3, 1}, LogName("2026-12-11"),
     "09:30:15\t10.77.0.2\t-1\tDestination Unreachable: Host unreachable.\r\n"},
    {"error record without a text", {2026, 12, 5, 11, 9, 30, 15, 250}, "10.77.0.2",
     {1, 11020, 3, 1}, LogName("2026-12-11"), "09:30:15\t10.77.0.2\t-1\t11020\r\n"},
    {"midnight, padded", {2027, 1, 5, 1, 0, 0, 0, 0}, "127.0.0.1", {1, IP_SUCCESS, 0, 1},
     LogName("2027-01-01"), "00:00:00\t127.0.0.1\t0\t\r\n"},
    {"year below 1000", {999, 2, 0, 3, 4, 5, 6, 0}, "127.0.0.1", {1, IP_SUCCESS, 12, 1},
     LogName("0999-02-03"), "04:05:06\t127.0.0.1\t12\t\r\n"},
    {"last second of a year", {2026, 12, 4, 31, 23, 59, 59, 999}, "127.0.0.1",
     {1, IP_SUCCESS, 4294967295u, 1}, LogName("2026-12-31"),
     "23:59:59\t127.0.0.1\t4294967295\t\r\n"},
    {"printf directives stay text", {2026, 12, 5, 11, 9, 30, 15, 250}, "%s%n%x%%",
     {0, IP_BAD_DESTINATION, 0, 1}, LogName("2026-12-11"),
     "09:30:15\t%s%n%x%%\t-1\tDestination is invalid.\r\n"},
    {"empty target", {2026, 12, 5, 11, 9, 30, 15, 250}, "", {0, IP_BAD_DESTINATION, 0, 1},
     LogName("2026-12-11"), "09:30:15\t\t-1\tDestination is invalid.\r\n"},
    {"bytes around the control range", {2026, 12, 5, 11, 9, 30, 15, 250}, " ~\x80\xff",
     {0, IP_BAD_DESTINATION, 0, 1}, LogName("2026-12-11"),
     "09:30:15\t ~\x80\xff\t-1\tDestination is invalid.\r\n"},
    {"longest target, longest text", {2026, 12, 5, 11, 9, 30, 15, 250}, kLongest,
     {0, IP_PACKET_TOO_BIG, 0, 1}, LogName("2026-12-11"),
     "09:30:15\t" + kLongest +
         "\t-1\tDestination Unreachable: Fragmentation needed, but DF-flag set.\r\n"},
    {"longest target, longest code", {2026, 12, 5, 11, 9, 30, 15, 250}, kLongest,
     {0, 4294967295u, 0, 1}, LogName("2026-12-11"),
     "09:30:15\t" + kLongest + "\t-1\t4294967295\r\n"},
};

TEST(DailyLog, EachCycleAppendsItsRowToTheFileOfItsDate) {
    for (const RowCase &c : kRows) {
        SCOPED_TRACE(c.name);
        StartScript({c.echo});
        scriptedTime = c.stamp;
        MonitorRun run = RunMonitor({c.target});
        EXPECT_EQ(run.status, 0);
        const std::vector<std::string> expected = {
            "register",   "create", "drop privileges", "time", std::string("open ") + c.path,
            "send", "lock", "sleep 1000", "close"};
        EXPECT_EQ(platformCalls, expected);
        EXPECT_TRUE(ScriptedFile(c.path) == c.row) << ScriptedFile(c.path).substr(0, 200);
    }
}

// Answered probes whose rows are easy to tell apart: 1 ms, 2 ms, ...
std::vector<ScriptedEcho> Answers(DWORD count) {
    std::vector<ScriptedEcho> answers;
    for (DWORD i = 1; i <= count; ++i) answers.push_back({1, IP_SUCCESS, i, i == count ? 1 : 0});
    return answers;
}

std::string AnswerRow(DWORD roundTripMs) {
    return "09:30:15\t127.0.0.1\t" + std::to_string(roundTripMs) + "\t\r\n";
}

std::string ConsoleLines(DWORD count) {
    std::string lines;
    for (DWORD i = 1; i <= count; ++i) {
        if (i == count) lines += "Ctrl+C\n";
        lines += std::to_string(i) + "ms\n";
    }
    return lines;
}

TEST(DailyLog, ALogThatCantBeWrittenIsSaidOnceAndSoIsItsEnd) {
    const std::string day = LogName("2026-12-11");
    const std::string cannot = "vesperix: cannot write the daily log " + day + ": system error ";
    const std::string again = "vesperix: the daily log " + day + " is written again\n";
    StartScript(Answers(8));
    scriptedLogFaults = {{0, 0, false},  {5, 0, false},  {5, 0, false}, {0, 28, false},
                         {0, 0, false},  {0, 0, false},  {0, 28, true}, {0, 0, false}};
    MonitorRun run = RunMonitor({"127.0.0.1"});
    // Standard output and the exit status are what they are without faults.
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ConsoleLines(8));
    EXPECT_EQ(run.err, cannot + "5\n" + again + cannot + "28\n" + again);
    // Only the cut-short write of cycle 7 leaves a fragment, and the row
    // after it starts a line of its own.
    std::string row7 = AnswerRow(7);
    EXPECT_EQ(ScriptedFile(day), AnswerRow(1) + AnswerRow(5) + AnswerRow(6) +
                                     row7.substr(0, row7.size() / 2) + "\r\n" + AnswerRow(8));
}

struct FragmentCase {
    const char *name;
    std::string before;
    std::vector<ScriptedLogFault> faults;
    std::string after;
};

// Three answered cycles against what the file held before them.
const FragmentCase kFragments[] = {
    {"no fragment", "", {}, AnswerRow(1) + AnswerRow(2) + AnswerRow(3)},
    {"a cut-short write", "", {{0, 0, false}, {0, 28, true}},
     AnswerRow(1) + AnswerRow(2).substr(0, 11) + "\r\n" + AnswerRow(3)},
    {"a write that wrote nothing", "", {{0, 0, false}, {0, 28, false}},
     AnswerRow(1) + AnswerRow(3)},
    {"cut between CR and LF", "23:59:59\tx\t-1\tRequest timed-out.\r", {},
     "23:59:59\tx\t-1\tRequest timed-out.\r\r\n" + AnswerRow(1) + AnswerRow(2) + AnswerRow(3)},
    {"another program's text without a line end", "notes", {},
     "notes\r\n" + AnswerRow(1) + AnswerRow(2) + AnswerRow(3)},
    {"another program's LF line end", "notes\n", {},
     "notes\n" + AnswerRow(1) + AnswerRow(2) + AnswerRow(3)},
};

TEST(DailyLog, ARowNeverGoesOnFromAFragment) {
    const std::string day = LogName("2026-12-11");
    for (const FragmentCase &c : kFragments) {
        SCOPED_TRACE(c.name);
        StartScript(Answers(3));
        if (!c.before.empty()) WriteScriptedFile(day, c.before);
        scriptedLogFaults = c.faults;
        MonitorRun run = RunMonitor({"127.0.0.1"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, ConsoleLines(3));
        EXPECT_TRUE(ScriptedFile(day) == c.after) << ScriptedFile(day);
    }
}

TEST(DailyLog, ControlCharactersInTheTargetAreRefusedAtStart) {
    std::vector<int> refused = {0x7F};
    for (int byte = 0x01; byte < 0x20; ++byte) refused.push_back(byte);
    for (int byte : refused) {
        SCOPED_TRACE(byte);
        StartScript({});
        MonitorRun run = RunMonitor({std::string("10.0.0.1") + static_cast<char>(byte) + "x"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        char expected[160];
        std::snprintf(expected, sizeof expected,
                      "vesperix: the target text has the control character 0x%02X at byte 9, "
                      "which would break the rows of the log\n",
                      static_cast<unsigned>(byte));
        EXPECT_EQ(run.err, expected);
        EXPECT_EQ(platformCalls, std::vector<std::string>());
    }
}

TEST(DailyLog, TargetsLongerThanARowHoldsAreRefusedAtStart) {
    StartScript({});
    MonitorRun run = RunMonitor({kLongest + "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vesperix: the target text is longer than " +
                           std::to_string(kLongestArgument) +
                           " bytes, more than a log row holds\n");
    EXPECT_EQ(platformCalls, std::vector<std::string>());
}

}  // namespace
