// What the Windows build adds to the Windows API itself.
#include "platform.h"

#include <cstdio>

const char *const kEchoLibraryNames[] = {"iphlpapi.dll", "icmp.dll"};
const size_t kEchoLibraryCount = sizeof kEchoLibraryNames / sizeof kEchoLibraryNames[0];

// A Windows process holds no privilege that the echo handle would let it
// give up: the echo functions need none.
bool GiveUpPrivileges(void) { return true; }

void DescribeEchoUnavailable(DWORD error, char *out, size_t size) {
    if (error == ERROR_CALL_NOT_IMPLEMENTED) {
        char directory[MAX_PATH];
        UINT length = GetSystemDirectoryA(directory, sizeof directory);
        if (length == 0 || length >= sizeof directory) std::snprintf(directory, sizeof directory, ".");
        std::snprintf(out, size, "the ICMP echo functions could not be bound from %s\\%s or %s\\%s",
                      directory, kEchoLibraryNames[0], directory, kEchoLibraryNames[1]);
        return;
    }
    char reason[128] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reason, sizeof reason, nullptr);
    // System messages end in CR LF.
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n')) {
        reason[--length] = '\0';
    }
    std::snprintf(out, size, "IcmpCreateFile failed with error %lu%s%s", error,
                  length > 0 ? ": " : "", reason);
}
