#include "stop_handler.h"

#include <cstdio>

static_assert(sizeof(std::atomic<unsigned char>) == 1, "the running flag is one byte");
static_assert(std::atomic<unsigned char>::is_always_lock_free, "the running flag takes no lock");

std::atomic<unsigned char> bRunning{1};
std::atomic<unsigned char> bCycleUnderWay{0};

namespace {

// How often a handler that waits looks at the cycle again.
const DWORD kWaitStepMs = 10;

}  // namespace

bool BeginProbeCycle() {
    // Set before the test of bRunning, and cleared by a handler only after
    // it cleared bRunning (both sequentially consistent): either the handler
    // sees this cycle under way, or this test sees the stop.
    bCycleUnderWay.store(1);
    if (bRunning.load() != 0) return true;
    bCycleUnderWay.store(0);
    return false;
}

void EndProbeCycle() { bCycleUnderWay.store(0); }

BOOL WINAPI StopHandler(DWORD event) {
    std::printf("Ctrl+C\n");
    bRunning.store(0);
    DWORD granted = ProcessEndGraceMs(event);
    if (granted == 0) return TRUE;
    // The process ends when this returns: what the cycle under way and the
    // buffered console lines have not written by then is lost.
    for (DWORD waited = 0; waited < granted && bCycleUnderWay.load() != 0; waited += kWaitStepMs) {
        Sleep(kWaitStepMs);
    }
    std::fflush(stdout);
    return TRUE;
}
