// The probe loop against scripted echo functions, clock and pause.
#include "probe_loop.h"
#include "scripted_platform.h"
#include "stop_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kNoCalls;

struct OutcomeCase {
    const char *name;
    ScriptedEcho echo;
    const char *line;
};

// One cycle per case: the echo's outcome becomes exactly this console line.
const OutcomeCase kOutcomes[] = {
    {"answer", {1, IP_SUCCESS, 7, 1}, "7ms\n"},
    {"answer under a millisecond", {1, IP_SUCCESS, 0, 1}, "0ms\n"},
    {"several replies count as the first", {3, IP_SUCCESS, 12, 1}, "12ms\n"},
    {"failure with a text", {0, IP_REQ_TIMED_OUT, 0, 1}, "Request timed-out.\n"},
    {"shared text", {0, IP_GENERAL_FAILURE, 0, 1}, "Unspecified error.\n"},
    {"failure without a text", {0, 120, 0, 1}, "Unknown error (120).\n"},
    {"failure code just past the table", {0, 11019, 0, 1}, "Unknown error (11019).\n"},
    {"all bits set", {0, 0xFFFFFFFFu, 0, 1}, "Unknown error (4294967295).\n"},
    {"error answer as a reply record", {1, IP_DEST_HOST_UNREACHABLE, 3, 1},
     "Destination Unreachable: Host unreachable.\n"},
    {"error record without a text", {1, 11020, 3, 1}, "Unknown error (11020).\n"},
};

TEST(ProbeLoop, EachOutcomeGivesItsConsoleLine) {
    for (const OutcomeCase &c : kOutcomes) {
        SCOPED_TRACE(c.name);
        StartScript({c.echo});
        MonitorRun run = RunMonitor({"127.0.0.1"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::string("Ctrl+C\n") + c.line);
        EXPECT_EQ(run.err, "");
    }
}

TEST(ProbeLoop, StartsInOrderAndRunsCyclesUntilStopped) {
    StartScript({{1, IP_SUCCESS, 5, 0}, {0, IP_REQ_TIMED_OUT, 0, 0}, {1, IP_SUCCESS, 6, 1}});
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "5ms\nRequest timed-out.\nCtrl+C\n6ms\n");
    const std::string open = "open " + LogName("2026-12-11");
    const std::vector<std::string> expected = {
        "register", "create", "drop privileges",          //
        "time",     open,     "send", "lock", "sleep 1000",       //
        "time",     open,     "send", "lock", "sleep 1000",       //
        "time",     open,     "send", "lock", "sleep 1000", "close"};
    EXPECT_EQ(platformCalls, expected);
    EXPECT_EQ(ScriptedFile(LogName("2026-12-11")),
              "09:30:15\t127.0.0.1\t5\t\r\n"
              "09:30:15\t127.0.0.1\t-1\tRequest timed-out.\r\n"
              "09:30:15\t127.0.0.1\t6\t\r\n");
}

TEST(ProbeLoop, SendsTheFixedRequestFromTheOneReplyBuffer) {
    StartScript({{1, IP_SUCCESS, 1, 0}, {1, IP_SUCCESS, 1, 1}});
    MonitorRun run = RunMonitor({"10.1.2.3", "ignored", "also ignored"});
    ASSERT_EQ(sentEchoes.size(), 2u);
    for (const SentEcho &echo : sentEchoes) {
        EXPECT_EQ(echo.destination, inet_addr("10.1.2.3"));
        EXPECT_EQ(echo.requestSize, 32);
        EXPECT_EQ(echo.requestOptions, nullptr);
        EXPECT_EQ(echo.timeout, 1000u);
        EXPECT_EQ(echo.replySize, sizeof(EchoReplyBuffer));
        EXPECT_EQ(static_cast<unsigned char *>(echo.requestData),
                  static_cast<unsigned char *>(echo.replyBuffer) + sizeof(ICMP_ECHO_REPLY));
        EXPECT_EQ(echo.replyBuffer, sentEchoes[0].replyBuffer);
    }
}

TEST(ProbeLoop, TextThatIsNoAddressIsSentToAsConverted) {
    StartScript({{0, IP_BAD_DESTINATION, 0, 1}});
    MonitorRun run = RunMonitor({"host.example"});
    ASSERT_EQ(sentEchoes.size(), 1u);
    EXPECT_EQ(sentEchoes[0].destination, 0xFFFFFFFFu);
    EXPECT_EQ(run.out, "Ctrl+C\nDestination is invalid.\n");
}

TEST(ProbeLoop, StopBeforeTheFirstCycleRunsNone) {
    StartScript({}, 0, true);
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Ctrl+C\n");
    const std::vector<std::string> expected = {"register", "create", "drop privileges", "close"};
    EXPECT_EQ(platformCalls, expected);
}

TEST(ProbeLoop, RepeatedStopsEachWriteTheirLineAndEndOnce) {
    StartScript({{1, IP_SUCCESS, 2, 3}});
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Ctrl+C\nCtrl+C\nCtrl+C\n2ms\n");
    const std::vector<std::string> expected = {
        "register", "create", "drop privileges", "time", "open " + LogName("2026-12-11"), "send",
        "lock", "sleep 1000", "close"};
    EXPECT_EQ(platformCalls, expected);
}

TEST(ProbeLoop, NoArgumentPrintsUsageAndDoesNothingElse) {
    StartScript({});
    MonitorRun run = RunMonitor({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Usage: vesperix <IPv4 address>\n");
    EXPECT_EQ(platformCalls, kNoCalls);
}

TEST(ProbeLoop, HelpAndVersionAnswerAndExitZero) {
    const char *const kHelp[] = {"-h", "--help"};
    for (const char *flag : kHelp) {
        StartScript({});
        MonitorRun run = RunMonitor({flag});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "Usage: vesperix <IPv4 address>\n");
        EXPECT_EQ(platformCalls, kNoCalls);
    }
    StartScript({});
    MonitorRun run = RunMonitor({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "vesperix " VESPERIX_VERSION "\n");
    EXPECT_EQ(platformCalls, kNoCalls);
}

TEST(ProbeLoop, NoEchoHandleSaysWhyOnStandardErrorAndExitsTwo) {
    StartScript({}, 13);
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vesperix: no echo handle (error 13)\n");
    const std::vector<std::string> expected = {"register", "create"};
    EXPECT_EQ(platformCalls, expected);
}

TEST(ProbeLoop, PrivilegesThatCannotBeGivenUpEndTheRunBeforeAnyProbe) {
    StartScript({}, 0, false, 1);
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vesperix: cannot give up privileges (error 1)\n");
    const std::vector<std::string> expected = {"register", "create", "drop privileges", "close"};
    EXPECT_EQ(platformCalls, expected);
}

}  // namespace
