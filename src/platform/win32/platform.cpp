// What the Windows build adds to the Windows API itself.
#include "platform.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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
    char reason[128];
    DescribeSystemError(error, reason, sizeof reason);
    std::snprintf(out, size, "IcmpCreateFile failed with error %lu%s%s", error,
                  reason[0] != '\0' ? ": " : "", reason);
}

void DescribeSystemError(DWORD code, char *out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, out, static_cast<DWORD>(size), nullptr);
    // System messages end in CR LF.
    while (length > 0 && (out[length - 1] == '\r' || out[length - 1] == '\n')) out[--length] = '\0';
    if (length == 0) std::snprintf(out, size, "error %lu", code);
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
    // Append access without write access makes every write land whole at the
    // end of the file, whoever else writes it; others may read and write it
    // meanwhile, but not delete or move it while it is open. Reading is only
    // for the file's last byte: a file that can't be read is still written.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA, share, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE &&
        (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION)) {
        file = CreateFileA(path, FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND);
    if (descriptor < 0) {
        CloseHandle(file);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
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

namespace {

HANDLE HandleOf(FILE *file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// The monitors' lock is one byte far past the end of any log, which no read
// or write of the log ever meets.
OVERLAPPED LockPlace() {
    OVERLAPPED place = {};
    place.Offset = 0xFFFFFFFEu;
    place.OffsetHigh = 0x7FFFFFFFu;
    return place;
}

// The system's error code for the C library's last failed stream call: its
// own copy of it, or, where it has none (a write cut short), the errno.
DWORD StreamError() {
    if (_doserrno != 0) return static_cast<DWORD>(_doserrno);
    return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

}  // namespace

bool ReadLastByte(FILE *file, unsigned char *last) {
    HANDLE handle = HandleOf(file);
    LARGE_INTEGER size;
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size) || size.QuadPart <= 0) {
        return false;
    }
    ULONGLONG end = static_cast<ULONGLONG>(size.QuadPart - 1);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(end);
    at.OffsetHigh = static_cast<DWORD>(end >> 32);
    DWORD got = 0;
    return ReadFile(handle, last, 1, &got, &at) && got == 1;
}

bool LockAppendFile(FILE *file) {
    HANDLE handle = HandleOf(file);
    // Another monitor holds it only while it checks and writes one row.
    for (int attempt = 0; attempt < 100; ++attempt) {
        OVERLAPPED place = LockPlace();
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &place)) {
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
        Sleep(1);
    }
    return false;
}

bool CloseAppendFile(FILE *file) {
    // The row is written before the lock ends: Windows may end a lock some
    // time after its file is closed.
    _doserrno = 0;
    errno = 0;
    bool flushed = std::fflush(file) == 0;
    DWORD error = StreamError();
    OVERLAPPED place = LockPlace();
    UnlockFileEx(HandleOf(file), 0, 1, 0, &place);
    _doserrno = 0;
    errno = 0;
    bool closed = std::fclose(file) == 0;
    if (flushed && !closed) error = StreamError();
    if (flushed && closed) return true;
    SetLastError(error);
    return false;
}
