// The console stop handler and the flags it shares with the probe loop.
#pragma once

#include "platform.h"

#include <atomic>

// 1 while the monitor should go on probing; a stop event sets it to 0 for good.
extern std::atomic<unsigned char> bRunning;

// 1 while a probe cycle runs, from its time reading to the close of its log.
extern std::atomic<unsigned char> bCycleUnderWay;

// Returns true, with bCycleUnderWay set, when the monitor should run one more
// probe cycle; false, with it clear, once a stop event has come. A stop
// handler that finds bCycleUnderWay clear may count on no cycle starting.
bool BeginProbeCycle();

// Marks the end of the cycle that BeginProbeCycle began.
void EndProbeCycle();

// Writes "Ctrl+C", clears bRunning and reports every control event as
// handled; the probe loop ends by itself after its current cycle. For an
// event after which the platform ends the process as soon as the handler
// returns, it first lets the cycle under way write its console line and its
// row, as long as the platform grants, and flushes standard output.
BOOL WINAPI StopHandler(DWORD event);
