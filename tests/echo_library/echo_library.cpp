// A tiny library shaped like an ICMP echo library, for the binding's tests.
// ECHO_MARKER tells the builds apart: a handle of that value, and answers
// 40 + ECHO_MARKER ms long. ECHO_WITHOUT_CLOSE leaves the last of the three
// functions out. Everything here is exported (the default for a shared
// object, and for a DLL without explicit exports).
#include "platform_api.h"

extern "C" HANDLE WINAPI IcmpCreateFile(void) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(ECHO_MARKER));
}

extern "C" DWORD WINAPI IcmpSendEcho(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                     LPVOID replyBuffer, DWORD replySize, DWORD) {
    if (replyBuffer != nullptr && replySize >= sizeof(ICMP_ECHO_REPLY)) {
        ICMP_ECHO_REPLY *reply = static_cast<ICMP_ECHO_REPLY *>(replyBuffer);
        reply->Status = IP_SUCCESS;
        reply->RoundTripTime = 40 + ECHO_MARKER;
    }
    return ECHO_MARKER * 10;
}

#ifndef ECHO_WITHOUT_CLOSE
extern "C" BOOL WINAPI IcmpCloseHandle(HANDLE) { return ECHO_MARKER * 100; }
#endif
