// vesperix-report on POSIX systems: the shell has expanded wildcards in the
// arguments already.
#include "report_platform.h"

#include <cstdio>
#include <cstring>

// A slash is the only separator; a backslash is part of a name.
const char *FileNameOf(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

// rename replaces the target atomically.
bool MoveFileOver(const char *from, const char *to) { return std::rename(from, to) == 0; }
