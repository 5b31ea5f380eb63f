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

// The process-wide entry slots through which every echo call is made. They
// start at LazyIcmpCreateFile and the two fallbacks, and are bound to one
// library's functions by the first create call.
extern IcmpCreateFileFunction pIcmpCreateFile;
extern IcmpSendEchoFunction pIcmpSendEcho;
extern IcmpCloseHandleFunction pIcmpCloseHandle;

// Binds the slots and returns what the bound create function returns; without
// a binding, INVALID_HANDLE_VALUE with the last-error code 120.
HANDLE WINAPI LazyIcmpCreateFile(void);

// Stand in for send and close until the slots are bound: each fails with the
// last-error code 120 (ERROR_CALL_NOT_IMPLEMENTED) and returns 0.
DWORD WINAPI IcmpSendEchoFallback(HANDLE handle, IPAddr destination, LPVOID requestData,
                                  WORD requestSize, PIP_OPTION_INFORMATION requestOptions,
                                  LPVOID replyBuffer, DWORD replySize, DWORD timeout);
BOOL WINAPI IcmpCloseHandleFallback(HANDLE handle);

// Points all three slots at the functions of the first library, of the
// platform's list in the system directory, that has all three. Returns false
// with the last-error code 120 when none has, and leaves the slots alone.
bool BindIcmpFunctions(void);

typedef UINT(WINAPI *SystemDirectoryQuery)(LPSTR buffer, UINT size);

// BindIcmpFunctions with the system directory asked of `query` and the
// library names given: the seam the binding's tests use.
bool BindIcmpFunctionsFrom(SystemDirectoryQuery query, const char *const *names, size_t count);

const WORD kEchoRequestSize = 32;
const DWORD kEchoTimeoutMs = 1000;

// One reply record, the data area that doubles as the request payload, and
// the 8 bytes the echo functions need beyond it for an ICMP error.
struct EchoReplyBuffer {
    ICMP_ECHO_REPLY reply;
    UCHAR data[kEchoRequestSize];
    UCHAR spare[8];
};
static_assert(sizeof(void *) != 4 || sizeof(EchoReplyBuffer) == 68,
              "a 32-bit process passes the echo functions 68 bytes for one reply");
