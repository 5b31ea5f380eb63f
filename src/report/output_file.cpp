#include "output_file.h"

#include "report_platform.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

bool StartReplacing(const char *path, ReplacingFile *file) {
    // A name no other run picks: the time in nanoseconds, and where this
    // run's stack lies.
    const uint64_t stamp = static_cast<uint64_t>(
        std::chrono::system_clock::now().time_since_epoch().count());
    const uint64_t place = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&stamp));
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp",
                  static_cast<unsigned long long>(stamp ^ (place << 20)));
    file->path = path;
    file->temporary = file->path + suffix;
    file->stream = std::fopen(file->temporary.c_str(), "wb");
    return file->stream != nullptr;
}

bool FinishReplacing(ReplacingFile *file) {
    bool failed = std::fflush(file->stream) != 0 || std::ferror(file->stream) != 0;
    int error = errno;
    if (std::fclose(file->stream) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    file->stream = nullptr;
    const char *temporary = file->temporary.c_str(), *path = file->path.c_str();
    if (!failed && !MoveFileOver(temporary, path)) {
        failed = true;
        error = errno;
    }
    if (failed) {
        std::remove(temporary);
        errno = error;
    }
    return !failed;
}
