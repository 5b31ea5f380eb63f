// vesperix-report on Windows.
#include "report_platform.h"

#include <windows.h>

#include <cerrno>

// Neither cmd nor PowerShell expands `*.tsv` for a program: the C runtime
// expands the wildcards of each argument before main runs, as a POSIX
// shell would. An argument that matches no file is passed on as it is.
extern "C" {
int _dowildcard = -1;
}

// Both slashes separate folders, and "C:" ahead of the rest names a drive
// ("C:2026-12-01.tsv" is a file in the current folder of drive C).
const char *FileNameOf(const char *path) {
    const char *name = path;
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                       path[1] == ':';
    if (drive) name = path + 2;
    for (const char *at = name; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/') name = at + 1;
    }
    return name;
}

// The C runtime's rename refuses to replace a file; MoveFileEx replaces it in
// one step on the same volume, which the temporary file beside it is on.
bool MoveFileOver(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_NOT_SAME_DEVICE: errno = EXDEV; break;
    default: errno = EIO; break;
    }
    return false;
}
