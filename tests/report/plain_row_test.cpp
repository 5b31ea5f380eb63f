// The quick row reader takes exactly the rows the careful one takes (of
// names it knows, with their line end), reads them alike, and refuses the
// rest, also where the buffered bytes end.
#include "line_reader.h"
#include "log_row.h"
#include "name_table.h"
#include "plain_row.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// `bytes` laid out as LineReader lays out what it buffered: a line feed
// after them, then the padding.
struct Buffered {
    explicit Buffered(const std::string &bytes) : block(bytes) {
        block.push_back('\n');
        block.append(kLinePadding, 'x');
    }
    const char *begin() const { return block.data(); }
    const char *end() const { return block.data() + block.size() - kLinePadding - 1; }
    std::string block;
};

const char *const kLines[] = {
    "09:30:15\t127.0.0.1\t7\t\r",
    "23:59:59\t10.77.0.2\t-1\tRequest timed-out.\r",
    "00:00:00\tx\t-1\t120\r",
    "00:00:01\tx\t4294967295\t\r",
    "00:00:01\t\t-1\tDestination is invalid.\r",
    "00:00:01\t\xc3\xa9\xff\t3\t\r",
    "00:00:01\ta-target-name-longer-than-sixteen-bytes\t3\t\r",
    "00:00:01\tx\t3\t",  // a line feed alone: the careful way
    "00:00:01\tx\t4294967296\t\r",
    "00:00:01\tx\t+3\t\r",
    "00:00:01\tx\t-2\tRequest timed-out.\r",
    "00:00:01\tx\t\t\r",
    "24:00:00\tx\t3\t\r",
    "23:60:00\tx\t3\t\r",
    "23:59:60\tx\t3\t\r",
    "9:30:15\tx\t3\t\r",
    "09:30:15\tx\t3\r",
    "09:30:15\tx\t3\t\t\r",
    "09:30:15\ta\tb\t3\t\r",
    "09:30:15\tx\t3\tRequest timed-out.\r",
    "09:30:15\tx\t-1\t\r",
    "09:30:15\tx\r\t3\t\r",
    "09:30:15\tx\x7f\t3\t\r",
    "09:30:15\tx\t3\t\r\r",
    "09:30:15\tx\t-1\tRequest\ttimed-out.\r",
    "09:30:15\tx\t-1\tRequest timed-out.\r09:30:17\tx\t3\t\r",
    "",
    "\r",
};

TEST(PlainRow, TakesWhatParseLogRowTakesAndReadsItAlike) {
    for (const char *text : kLines) {
        const std::string line(text);
        SCOPED_TRACE(line);
        LogRow careful;
        const bool plain = ParseLogRow(line.data(), line.size(), &careful) == RowProblem::kNone &&
                           !line.empty() && line.back() == '\r';
        // The names of the line, when rows the careful way takes could
        // have shown them before: without control characters.
        NameTable targets, texts;
        const size_t tab = line.find('\t', 9);
        if (line.size() > 9 && tab != std::string::npos &&
            line.find_first_of("\r\x7f", 9) > tab) {
            NumberName(&targets, line.data() + 9, tab - 9);
            NumberName(&texts, "Request timed-out.", 18);
            NumberName(&texts, "120", 3);
            NumberName(&texts, "Destination is invalid.", 23);
        }
        const Buffered buffered(line + "\n" + "00:00:02\tx\t3\t\r");
        PlainRow row;
        StartPlainRows(&row);
        const size_t length = ReadPlainRow(buffered.begin(), buffered.end(), targets, texts, &row);
        ASSERT_EQ(length, plain ? line.size() + 1 : 0);
        if (!plain) continue;
        EXPECT_EQ(row.row.secondOfDay, careful.secondOfDay);
        EXPECT_EQ(std::string(row.row.target, row.row.targetLength),
                  std::string(careful.target, careful.targetLength));
        EXPECT_EQ(targets.names[row.target], std::string(careful.target, careful.targetLength));
        EXPECT_EQ(row.row.answered, careful.answered);
        EXPECT_EQ(row.row.rttMs, careful.rttMs);
        EXPECT_EQ(std::string(row.row.detail, row.row.detailLength),
                  std::string(careful.detail, careful.detailLength));
        if (!careful.answered) {
            EXPECT_EQ(texts.names[row.text], std::string(careful.detail, careful.detailLength));
        }
    }
}

TEST(PlainRow, RefusesNamesItDoesNotKnow) {
    NameTable targets, texts;
    NumberName(&targets, "10.77.0.2", 9);
    NumberName(&texts, "Request timed-out.", 18);
    const struct {
        const char *line;
        bool taken;
    } cases[] = {
        {"10:00:00\t10.77.0.2\t3\t\r\n", true},
        {"10:00:00\t10.77.0.3\t3\t\r\n", false},
        {"10:00:00\t10.77.0.22\t3\t\r\n", false},
        {"10:00:00\t10.77.0.\t3\t\r\n", false},
        {"10:00:00\t10.77.0.2\t-1\tRequest timed-out.\r\n", true},
        {"10:00:00\t10.77.0.2\t-1\tRequest timed-out\r\n", false},
        {"10:00:00\t10.77.0.2\t-1\tDestination is invalid.\r\n", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line(c.line);
        const Buffered buffered(line);
        PlainRow row;
        StartPlainRows(&row);
        EXPECT_EQ(ReadPlainRow(buffered.begin(), buffered.end(), targets, texts, &row),
                  c.taken ? line.size() : 0);
    }
}

TEST(PlainRow, RefusesALineWhoseEndIsNotBuffered) {
    NameTable targets, texts;
    NumberName(&targets, "x", 1);
    NumberName(&texts, "Request timed-out.", 18);
    const std::string whole = "10:00:00\tx\t-1\tRequest timed-out.\r\n";
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Buffered buffered(whole.substr(0, cut));
        PlainRow row;
        StartPlainRows(&row);
        EXPECT_EQ(ReadPlainRow(buffered.begin(), buffered.end(), targets, texts, &row), 0u);
    }
}

TEST(PlainRow, ReadsEachClockAndReusesOnlyTheSameOne) {
    NameTable targets, texts;
    NumberName(&targets, "x", 1);
    const std::vector<std::pair<std::string, int64_t>> rows = {
        {"00:00:00\tx\t3\t\r\n", 0},     {"00:00:00\tx\t3\t\r\n", 0},
        {"00:00:01\tx\t3\t\r\n", 1},     {"00:00:01\tx\t3\t\r\n", 1},
        {"23:59:59\tx\t3\t\r\n", 86399}, {"00:00:00\tx\t3\t\r\n", 0},
    };
    PlainRow row;
    StartPlainRows(&row);
    for (const auto &expected : rows) {
        const Buffered buffered(expected.first);
        ASSERT_EQ(ReadPlainRow(buffered.begin(), buffered.end(), targets, texts, &row),
                  expected.first.size());
        EXPECT_EQ(row.row.secondOfDay, expected.second) << expected.first;
    }
    // Bytes that only look like the clock before are no time.
    const Buffered zeros(std::string(8, '\0') + "\tx\t3\t\r\n");
    EXPECT_EQ(ReadPlainRow(zeros.begin(), zeros.end(), targets, texts, &row), 0u);
}

}  // namespace
