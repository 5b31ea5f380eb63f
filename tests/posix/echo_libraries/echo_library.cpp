// A tiny library shaped like an ICMP echo library, for the binding's tests.
// ECHO_MARKER tells the builds apart; ECHO_WITHOUT_CLOSE leaves the last of
// the three functions out.
#include "platform_api.h"

#define ECHO_EXPORT extern "C" __attribute__((visibility("default")))

ECHO_EXPORT HANDLE IcmpCreateFile(void) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(ECHO_MARKER));
}

ECHO_EXPORT DWORD IcmpSendEcho(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD,
                               DWORD) {
    return ECHO_MARKER * 10;
}

#ifndef ECHO_WITHOUT_CLOSE
ECHO_EXPORT BOOL IcmpCloseHandle(HANDLE) { return ECHO_MARKER * 100; }
#endif
