#include "daily_log.h"

#include "status_text.h"

namespace {

// Formats the row for `outcome` into the stream.
void WriteRow(FILE *log, const SYSTEMTIME &stamp, const char *target, const ProbeOutcome &outcome) {
    unsigned hour = stamp.wHour, minute = stamp.wMinute, second = stamp.wSecond;
    if (outcome.answered) {
        std::fprintf(log, "%02u:%02u:%02u\t%s\t%u\t\r\n", hour, minute, second, target,
                     static_cast<unsigned>(outcome.roundTripMs));
        return;
    }
    const char *text = IcmpStatusText(outcome.status);
    if (text != nullptr) {
        std::fprintf(log, "%02u:%02u:%02u\t%s\t-1\t%s\r\n", hour, minute, second, target, text);
    } else {
        std::fprintf(log, "%02u:%02u:%02u\t%s\t-1\t%u\r\n", hour, minute, second, target,
                     static_cast<unsigned>(outcome.status));
    }
}

// Returns true when the file is known to end inside a line.
bool EndsInsideLine(FILE *file) {
    unsigned char last = 0;
    return ReadLastByte(file, &last) && last != '\n';
}

}  // namespace

bool TargetFitsLog(const char *target, char *problem, size_t size) {
    for (size_t i = 0; target[i] != '\0'; ++i) {
        if (i == kLongestArgument) {
            std::snprintf(problem, size,
                          "the target text is longer than %lu bytes, more than a log row holds",
                          static_cast<unsigned long>(kLongestArgument));
            return false;
        }
        // A tab would shift the row's columns, a line end would forge rows.
        unsigned char code = static_cast<unsigned char>(target[i]);
        if (code < 0x20 || code == 0x7F) {
            std::snprintf(problem, size,
                          "the target text has the control character 0x%02X at byte %lu, "
                          "which would break the rows of the log",
                          static_cast<unsigned>(code), static_cast<unsigned long>(i + 1));
            return false;
        }
    }
    return true;
}

void OpenDailyLog(const SYSTEMTIME &stamp, DailyLog *log) {
    log->file = nullptr;
    log->error = 0;
    int length = std::snprintf(log->path, sizeof log->path, ".%c%04u-%02u-%02u.tsv",
                               kPathSeparator, static_cast<unsigned>(stamp.wYear),
                               static_cast<unsigned>(stamp.wMonth),
                               static_cast<unsigned>(stamp.wDay));
    if (length < 0 || static_cast<size_t>(length) >= sizeof log->path) {
        log->error = ERROR_INVALID_PARAMETER;
        return;
    }
    log->file = OpenAppendFile(log->path);
    if (log->file == nullptr) {
        log->error = GetLastError();
        return;
    }
    // A buffer larger than any row holds the row until the close writes it
    // in one go; a smaller one, or none, lets the C library split a long
    // row over several writes, between which another writer's row can land.
    std::setvbuf(log->file, log->buffer, _IOFBF, kLogBufferSize);
}

void AppendLogRow(DailyLog *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome) {
    if (log->file == nullptr) return;
    // A row written on from a fragment would be lost with it. Every monitor
    // checks and writes under the same lock, held until the close has written
    // the row: so a long row still being written is never taken for a
    // fragment, and of several monitors only the first ends one. Without the
    // lock, ending a line twice (an empty line) is still better than a lost row.
    LockAppendFile(log->file);
    if (EndsInsideLine(log->file)) std::fputs("\r\n", log->file);
    WriteRow(log->file, stamp, target, outcome);
}

void CloseDailyLog(DailyLog *log, LogHealth *health) {
    bool written = log->file != nullptr;
    DWORD error = log->error;
    if (written && !CloseAppendFile(log->file)) {
        written = false;
        error = GetLastError();
    }
    log->file = nullptr;
    if (written == !health->failing) return;
    health->failing = !written;
    if (written) {
        std::fprintf(stderr, "vesperix: the daily log %s is written again\n", log->path);
        return;
    }
    char reason[256];
    DescribeSystemError(error, reason, sizeof reason);
    std::fprintf(stderr, "vesperix: cannot write the daily log %s: %s\n", log->path, reason);
}
