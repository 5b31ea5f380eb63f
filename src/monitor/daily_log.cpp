#include "daily_log.h"

#include "status_text.h"

namespace {

// Every path is formed within the platform's path limit.
const size_t kPathSize = 260;

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

FILE *OpenDailyLog(const SYSTEMTIME &stamp, char *buffer) {
    char path[kPathSize];
    int length = std::snprintf(path, sizeof path, ".%c%04u-%02u-%02u.tsv", kPathSeparator,
                               static_cast<unsigned>(stamp.wYear),
                               static_cast<unsigned>(stamp.wMonth),
                               static_cast<unsigned>(stamp.wDay));
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return nullptr;
    FILE *log = OpenAppendFile(path);
    // A buffer larger than any row holds the row until the close writes it
    // in one go; a smaller one, or none, lets the C library split a long
    // row over several writes, between which another writer's row can land.
    if (log != nullptr) std::setvbuf(log, buffer, _IOFBF, kLogBufferSize);
    return log;
}

void AppendLogRow(FILE *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome) {
    if (log != nullptr) WriteRow(log, stamp, target, outcome);
}

void CloseDailyLog(FILE *log) {
    if (log != nullptr) std::fclose(log);
}
