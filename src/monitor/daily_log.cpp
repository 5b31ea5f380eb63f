#include "daily_log.h"

#include "status_text.h"

namespace {

// Every path is formed within the platform's path limit.
const size_t kPathSize = 260;

// The longest row holds the longest target text the platform can pass plus
// the other three fields: five-digit time parts at most, "-1" or a ten-digit
// round-trip time, a status text or code, and the line end.
const size_t kRowSize = kLongestArgument + 256;

// Formats the row for `outcome` into `out`; returns what snprintf returns.
int FormatRow(char *out, size_t size, const SYSTEMTIME &stamp, const char *target,
              const ProbeOutcome &outcome) {
    unsigned hour = stamp.wHour, minute = stamp.wMinute, second = stamp.wSecond;
    if (outcome.answered) {
        return std::snprintf(out, size, "%02u:%02u:%02u\t%s\t%u\t\r\n", hour, minute, second,
                             target, static_cast<unsigned>(outcome.roundTripMs));
    }
    const char *text = IcmpStatusText(outcome.status);
    if (text != nullptr) {
        return std::snprintf(out, size, "%02u:%02u:%02u\t%s\t-1\t%s\r\n", hour, minute, second,
                             target, text);
    }
    return std::snprintf(out, size, "%02u:%02u:%02u\t%s\t-1\t%u\r\n", hour, minute, second, target,
                         static_cast<unsigned>(outcome.status));
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
        unsigned char byte = static_cast<unsigned char>(target[i]);
        if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(problem, size,
                          "the target text has the control character 0x%02X at byte %lu, "
                          "which would break the rows of the log",
                          static_cast<unsigned>(byte), static_cast<unsigned long>(i + 1));
            return false;
        }
    }
    return true;
}

FILE *OpenDailyLog(const SYSTEMTIME &stamp) {
    char path[kPathSize];
    int length = std::snprintf(path, sizeof path, ".%c%04u-%02u-%02u.tsv", kPathSeparator,
                               static_cast<unsigned>(stamp.wYear),
                               static_cast<unsigned>(stamp.wMonth),
                               static_cast<unsigned>(stamp.wDay));
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return nullptr;
    FILE *log = OpenAppendFile(path);
    // Unbuffered, the stream hands each row to the file in the one write
    // that fwrite makes for it; a buffer could split a long row in two.
    if (log != nullptr) std::setvbuf(log, nullptr, _IONBF, 0);
    return log;
}

void AppendLogRow(FILE *log, const SYSTEMTIME &stamp, const char *target,
                  const ProbeOutcome &outcome) {
    if (log == nullptr) return;
    char row[kRowSize];
    int length = FormatRow(row, sizeof row, stamp, target, outcome);
    // A row that does not fit is not written at all rather than cut.
    if (length < 0 || static_cast<size_t>(length) >= sizeof row) return;
    std::fwrite(row, 1, static_cast<size_t>(length), log);
}

void CloseDailyLog(FILE *log) {
    if (log != nullptr) std::fclose(log);
}
