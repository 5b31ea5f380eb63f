#include "stop_handler.h"

#include <cstdio>

static_assert(sizeof(std::atomic<unsigned char>) == 1, "the running flag is one byte");
static_assert(std::atomic<unsigned char>::is_always_lock_free, "the running flag takes no lock");

std::atomic<unsigned char> bRunning{1};

BOOL WINAPI StopHandler(DWORD /*event*/) {
    std::printf("Ctrl+C\n");
    bRunning.store(0);
    return TRUE;
}
