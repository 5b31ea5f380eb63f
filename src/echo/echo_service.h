// How the program reaches the three ICMP echo functions, and the one buffer
// that every echo request uses.
#pragma once

#include "platform.h"

typedef HANDLE(WINAPI *IcmpCreateFileFunction)(void);
typedef DWORD(WINAPI *IcmpSendEchoFunction)(HANDLE handle, IPAddr destination, LPVOID requestData,
                                             WORD requestSize,
                                             PIP_OPTION_INFORMATION requestOptions,
                                             LPVOID replyBuffer, DWORD replySize, DWORD timeout);
typedef BOOL(WINAPI *IcmpCloseHandleFunction)(HANDLE handle);

// The process-wide entry slots through which every echo call is made.
extern IcmpCreateFileFunction pIcmpCreateFile;
extern IcmpSendEchoFunction pIcmpSendEcho;
extern IcmpCloseHandleFunction pIcmpCloseHandle;

const WORD kEchoRequestSize = 32;
const DWORD kEchoTimeoutMs = 1000;

// One reply record, the data area that doubles as the request payload, and
// the 8 bytes the echo functions need beyond it for an ICMP error.
struct EchoReplyBuffer {
    ICMP_ECHO_REPLY reply;
    UCHAR data[kEchoRequestSize];
    UCHAR spare[8];
};
