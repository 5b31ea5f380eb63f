// The console stop handler and the flag it shares with the probe loop.
#pragma once

#include "platform.h"

#include <atomic>

// 1 while the monitor should go on probing; a stop event sets it to 0 for good.
extern std::atomic<unsigned char> bRunning;

// Writes "Ctrl+C", clears bRunning and reports every control event as
// handled; the probe loop ends by itself after its current cycle.
BOOL WINAPI StopHandler(DWORD event);
