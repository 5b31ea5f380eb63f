#include "probe_loop.h"

#include "daily_log.h"
#include "echo_service.h"
#include "probe_outcome.h"
#include "status_text.h"
#include "stop_handler.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsageLine[] = "Usage: vesperix <IPv4 address>\n";
const char kVersionLine[] = "vesperix " VESPERIX_VERSION "\n";
const DWORD kPauseMs = 1000;

// Sends one echo request to the address `target` converts to and waits for
// its reply or its timeout.
ProbeOutcome SendProbe(HANDLE echo, const char *target, EchoReplyBuffer *buffer) {
    IPAddr destination = inet_addr(target);
    DWORD replies = pIcmpSendEcho(echo, destination, buffer->data, kEchoRequestSize, nullptr,
                                  buffer, sizeof *buffer, kEchoTimeoutMs);
    if (replies == 0) return {false, 0, GetLastError()};
    // An ICMP error answer can come back as a reply record of its own.
    if (buffer->reply.Status != IP_SUCCESS) return {false, 0, buffer->reply.Status};
    return {true, buffer->reply.RoundTripTime, IP_SUCCESS};
}

// Writes the console line for one probe.
void ReportOutcome(const ProbeOutcome &outcome) {
    if (outcome.answered) {
        std::printf("%ums\n", static_cast<unsigned>(outcome.roundTripMs));
        return;
    }
    const char *text = IcmpStatusText(outcome.status);
    if (text != nullptr) {
        std::printf("%s\n", text);
    } else {
        std::printf("Unknown error (%u).\n", static_cast<unsigned>(outcome.status));
    }
}

// One probe cycle: the time reading, one echo request, its console line and
// its row in the day's log, which is held open only while the cycle runs;
// `health` carries whether the rows reach the log from cycle to cycle.
void RunProbeCycle(HANDLE echo, const char *target, EchoReplyBuffer *buffer, LogHealth *health) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    DailyLog log;
    OpenDailyLog(now, &log);
    ProbeOutcome outcome = SendProbe(echo, target, buffer);
    ReportOutcome(outcome);
    AppendLogRow(&log, now, target, outcome);
    CloseDailyLog(&log, health);
}

// Says on standard error why monitoring can't start.
void ReportEchoUnavailable(DWORD error) {
    char reason[256];
    DescribeEchoUnavailable(error, reason, sizeof reason);
    std::fprintf(stderr, "vesperix: %s\n", reason);
}

}  // namespace

int MonitorMain(int argc, char **argv) {
    if (argc < 2) {
        std::printf("%s", kUsageLine);
        return 1;
    }
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s", kUsageLine);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s", kVersionLine);
        return 0;
    }
    const char *target = argv[1];
    char problem[160];
    if (!TargetFitsLog(target, problem, sizeof problem)) {
        std::fprintf(stderr, "vesperix: %s\n", problem);
        return 1;
    }
    SetConsoleCtrlHandler(StopHandler, TRUE);
    HANDLE echo = pIcmpCreateFile();
    if (echo == INVALID_HANDLE_VALUE) {
        ReportEchoUnavailable(GetLastError());
        return 2;
    }
    if (!GiveUpPrivileges()) {
        std::fprintf(stderr, "vesperix: cannot give up privileges (error %u)\n",
                     static_cast<unsigned>(GetLastError()));
        pIcmpCloseHandle(echo);
        return 2;
    }
    EchoReplyBuffer buffer = {};
    LogHealth health = {false};
    while (BeginProbeCycle()) {
        RunProbeCycle(echo, target, &buffer, &health);
        EndProbeCycle();
        Sleep(kPauseMs);
    }
    pIcmpCloseHandle(echo);
    return 0;
}
