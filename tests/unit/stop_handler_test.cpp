// The stop handler run on a thread of its own, as the console runs it, while
// the probe loop runs its cycles against the scripted platform.
#include "probe_loop.h"
#include "scripted_platform.h"
#include "stop_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

const char kTimedOutRow[] = "09:30:15\t127.0.0.1\t-1\tRequest timed-out.\r\n";
// Far more than any cycle of the scripted platform takes.
const DWORD kAmpleGraceMs = 10000;

// One control event delivered to StopHandler on a thread of its own.
class HandlerThread {
  public:
    ~HandlerThread() {
        if (thread_.joinable()) thread_.join();
    }

    void Deliver(DWORD event) {
        thread_ = std::thread([this, event] {
            StopHandler(event);
            logAtReturn_ = ScriptedFile(LogName("2026-12-11"));
            returned_.store(true);
        });
    }

    // Waits up to `milliseconds` for the handler to return; true when it did.
    bool ReturnsWithin(int milliseconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!returned_.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        return returned_.load();
    }

    // The day's log as it was when the handler returned.
    std::string LogAtReturn() {
        if (thread_.joinable()) thread_.join();
        return logAtReturn_;
    }

  private:
    std::thread thread_;
    std::atomic<bool> returned_{false};
    std::string logAtReturn_;
};

struct EventCase {
    const char *name;
    DWORD event;
    bool processEnds;
};

const EventCase kEvents[] = {
    {"Ctrl+C", CTRL_C_EVENT, false},
    {"Ctrl+Break", CTRL_BREAK_EVENT, false},
    {"close", CTRL_CLOSE_EVENT, true},
    {"logoff", CTRL_LOGOFF_EVENT, true},
    {"shutdown", CTRL_SHUTDOWN_EVENT, true},
};

TEST(StopHandler, AnEventThatEndsTheProcessReturnsOnlyOnceTheCycleUnderWayWroteItsRow) {
    for (const EventCase &c : kEvents) {
        SCOPED_TRACE(c.name);
        StartScript({{0, IP_REQ_TIMED_OUT, 0, 0}});
        scriptedEndGraceMs = kAmpleGraceMs;
        HandlerThread handler;
        bool returnedDuringWait = false;
        duringEchoWait = [&] {
            handler.Deliver(c.event);
            returnedDuringWait = handler.ReturnsWithin(c.processEnds ? 300 : 5000);
        };
        MonitorRun run = RunMonitor({"127.0.0.1"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "Ctrl+C\nRequest timed-out.\n");
        // Events the process outlives leave the cycle to the loop; after the
        // others nothing of the cycle would be written once the handler returns.
        EXPECT_EQ(returnedDuringWait, !c.processEnds);
        EXPECT_EQ(handler.LogAtReturn(), c.processEnds ? kTimedOutRow : "");
        EXPECT_EQ(ScriptedFile(LogName("2026-12-11")), kTimedOutRow);
    }
}

TEST(StopHandler, WaitsNoLongerThanThePlatformGrants) {
    StartScript({{0, IP_REQ_TIMED_OUT, 0, 0}});
    scriptedEndGraceMs = 200;
    HandlerThread handler;
    bool returnedDuringWait = false;
    duringEchoWait = [&] {
        handler.Deliver(CTRL_CLOSE_EVENT);
        returnedDuringWait = handler.ReturnsWithin(5000);
    };
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(returnedDuringWait);
    EXPECT_EQ(handler.LogAtReturn(), "");
}

TEST(StopHandler, BetweenCyclesAnEventThatEndsTheProcessReturnsAtOnceAndNoCycleFollows) {
    StartScript({{1, IP_SUCCESS, 4, 0}});
    scriptedEndGraceMs = kAmpleGraceMs;
    HandlerThread handler;
    bool returnedDuringPause = false;
    duringPause = [&] {
        if (returnedDuringPause) return;
        handler.Deliver(CTRL_CLOSE_EVENT);
        returnedDuringPause = handler.ReturnsWithin(5000);
    };
    MonitorRun run = RunMonitor({"127.0.0.1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "4ms\nCtrl+C\n");
    EXPECT_TRUE(returnedDuringPause);
    EXPECT_EQ(handler.LogAtReturn(), "09:30:15\t127.0.0.1\t4\t\r\n");
    EXPECT_EQ(sentEchoes.size(), 1u);
}

}  // namespace
