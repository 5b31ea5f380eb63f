// The Windows calls and records the program is written against, supplied on
// POSIX systems by platform.cpp and, for the ICMP echo functions, by the
// Linux echo provider. Types keep the Windows widths so the shared code reads
// the same on both platforms.
#pragma once

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef int BOOL;
typedef unsigned char UCHAR;
typedef UCHAR *PUCHAR;
typedef uint16_t USHORT;
typedef uint32_t ULONG;
typedef void *PVOID;
typedef void *LPVOID;
typedef unsigned int UINT;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void (*FARPROC)(void);
typedef uint32_t IPAddr;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~static_cast<uintptr_t>(0)))

#define ERROR_INVALID_HANDLE 6u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u

#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u
#define CTRL_LOGOFF_EVENT 5u
#define CTRL_SHUTDOWN_EVENT 6u

#define IP_STATUS_BASE 11000u
#define IP_SUCCESS 0u
#define IP_BUF_TOO_SMALL (IP_STATUS_BASE + 1)
#define IP_DEST_NET_UNREACHABLE (IP_STATUS_BASE + 2)
#define IP_DEST_HOST_UNREACHABLE (IP_STATUS_BASE + 3)
#define IP_DEST_PROT_UNREACHABLE (IP_STATUS_BASE + 4)
#define IP_DEST_PORT_UNREACHABLE (IP_STATUS_BASE + 5)
#define IP_NO_RESOURCES (IP_STATUS_BASE + 6)
#define IP_BAD_OPTION (IP_STATUS_BASE + 7)
#define IP_HW_ERROR (IP_STATUS_BASE + 8)
#define IP_PACKET_TOO_BIG (IP_STATUS_BASE + 9)
#define IP_REQ_TIMED_OUT (IP_STATUS_BASE + 10)
#define IP_BAD_REQ (IP_STATUS_BASE + 11)
#define IP_BAD_ROUTE (IP_STATUS_BASE + 12)
#define IP_TTL_EXPIRED_TRANSIT (IP_STATUS_BASE + 13)
#define IP_TTL_EXPIRED_REASSEM (IP_STATUS_BASE + 14)
#define IP_PARAM_PROBLEM (IP_STATUS_BASE + 15)
#define IP_SOURCE_QUENCH (IP_STATUS_BASE + 16)
#define IP_OPTION_TOO_BIG (IP_STATUS_BASE + 17)
#define IP_BAD_DESTINATION (IP_STATUS_BASE + 18)
#define IP_GENERAL_FAILURE (IP_STATUS_BASE + 50)

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct IP_OPTION_INFORMATION {
    UCHAR Ttl;
    UCHAR Tos;
    UCHAR Flags;
    UCHAR OptionsSize;
    PUCHAR OptionsData;
};
typedef IP_OPTION_INFORMATION *PIP_OPTION_INFORMATION;

struct ICMP_ECHO_REPLY {
    IPAddr Address;
    ULONG Status;
    ULONG RoundTripTime;
    USHORT DataSize;
    USHORT Reserved;
    PVOID Data;
    IP_OPTION_INFORMATION Options;
};
typedef ICMP_ECHO_REPLY *PICMP_ECHO_REPLY;

typedef BOOL (*PHANDLER_ROUTINE)(DWORD event);

// What separates a folder from a name in a path.
const char kPathSeparator = '/';

// The longest single command-line argument the kernel hands a program, in
// bytes without its terminating zero (MAX_ARG_STRLEN with 4 KiB pages).
const size_t kLongestArgument = 32 * 4096 - 1;

// Fills `time` with the current time in UTC.
void GetSystemTime(SYSTEMTIME *time);

// Fills `time` with the UTC calendar time `seconds` and `nanoseconds` after
// 1970-01-01 00:00:00 UTC (before it for negative `seconds`), as gmtime
// would, without reading any time zone data.
void UtcFromUnixTime(int64_t seconds, long nanoseconds, SYSTEMTIME *time);

// Returns after `milliseconds` have passed on a monotonic clock, however many
// signals arrive meanwhile.
void Sleep(DWORD milliseconds);

// The calling thread's last-error code, as the last failed call left it.
DWORD GetLastError(void);

// Sets the calling thread's last-error code.
void SetLastError(DWORD code);

// Adds (add = TRUE) or removes `routine` from the console control handlers.
// SIGINT, SIGQUIT, SIGTERM and SIGHUP become control events, delivered to the
// newest handler first on a thread of their own; until the first handler is
// added they keep their default action. Returns FALSE with the last-error
// code set when the handler thread can't be started.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);

// Copies the program's own library folder, <prefix>/lib/vesperix beside
// <prefix>/bin/vesperix, into `buffer`: returns its length, or the size it
// needs when `size` is too small, or 0 when it can't be found.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);

// Loads the shared library at `path`; null with the last-error code set
// when it can't.
HMODULE LoadLibraryA(LPCSTR path);

// The function `name` of a loaded library; null with the last-error code
// set when it has none.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Unloads a library LoadLibraryA loaded.
BOOL FreeLibrary(HMODULE module);
