// file-share: a test helper, a second Windows process beside the monitor.
// For each line on standard input it tries one operation on a file and
// answers with one line on standard output, "ok" or "error N" (the last-error
// code), at once:
//
//   read PATH            open PATH for reading, as a reader of the log would
//   append PATH          open PATH for appending, as another writer would
//   delete PATH          delete PATH
//   rename PATH NEWPATH  give PATH the name NEWPATH
//
// It ends at the end of its input.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// Opens `path` with `access`, sharing it the way the monitor shares its log,
// and closes it again.
bool OpenAndClose(const char *path, DWORD access) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Runs one command line; false with the last-error code set when it fails.
bool RunCommand(char *line) {
    char *operation = std::strtok(line, " \r\n");
    char *path = std::strtok(nullptr, " \r\n");
    char *newPath = std::strtok(nullptr, " \r\n");
    if (operation == nullptr || path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (std::strcmp(operation, "read") == 0) return OpenAndClose(path, GENERIC_READ);
    if (std::strcmp(operation, "append") == 0) return OpenAndClose(path, FILE_APPEND_DATA);
    if (std::strcmp(operation, "delete") == 0) return DeleteFileA(path) != 0;
    if (std::strcmp(operation, "rename") == 0 && newPath != nullptr) {
        return MoveFileA(path, newPath) != 0;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

}  // namespace

int main() {
    char line[1024];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (RunCommand(line)) {
            std::printf("ok\n");
        } else {
            std::printf("error %lu\n", GetLastError());
        }
        std::fflush(stdout);
    }
    return 0;
}
