// What the Windows build adds to the Windows API itself.
#include "platform.h"

#include <fcntl.h>
#include <io.h>

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

DWORD ProcessEndGraceMs(DWORD event) {
    // Windows ends the process as soon as the handler of one of these
    // returns, and at the latest 5 s after a close, the shortest of the three.
    switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return 4000;
    default:
        return 0;
    }
}

FILE *OpenAppendFile(const char *path) {
    // Append access alone makes every write land whole at the end of the file,
    // whoever else writes it; others may read and write it meanwhile, but not
    // delete or move it while it is open.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND);
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE *stream = _fdopen(descriptor, "ab");
    if (stream == nullptr) {
        DWORD error = GetLastError();
        _close(descriptor);
        SetLastError(error);
    }
    return stream;
}
