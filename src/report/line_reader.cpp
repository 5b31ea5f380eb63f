#include "line_reader.h"

#include <cstring>

void StartLines(LineReader *reader, FILE *file) {
    reader->file = file;
    reader->start = reader->end = 0;
    reader->atEnd = reader->skipping = false;
    reader->lineNumber = 0;
    reader->block[0] = '\n';
}

LineResult ReadLine(LineReader *reader, const char **line, size_t *length) {
    for (;;) {
        char *begin = reader->block + reader->start;
        const size_t unread = reader->end - reader->start;
        const void *feed = std::memchr(begin, '\n', unread);
        if (feed != nullptr) {
            *line = begin;
            *length = static_cast<size_t>(static_cast<const char *>(feed) - begin);
            reader->start += *length + 1;
            ++reader->lineNumber;
            const bool dropped = reader->skipping || *length > kLongestRow;
            reader->skipping = false;
            return dropped ? LineResult::kTooLong : LineResult::kLine;
        }
        // What can't be a row need not be kept while its end is sought.
        if (unread > kLongestRow) {
            reader->skipping = true;
            reader->start = reader->end = 0;
            continue;
        }
        if (reader->atEnd) {
            if (unread == 0 && !reader->skipping) return LineResult::kEnd;
            *line = begin;
            *length = unread;
            reader->start = reader->end;
            ++reader->lineNumber;
            const bool dropped = reader->skipping;
            reader->skipping = false;
            return dropped ? LineResult::kTooLong : LineResult::kPartial;
        }
        std::memmove(reader->block, begin, unread);
        reader->start = 0;
        reader->end = unread;
        const size_t got = std::fread(reader->block + unread, 1, kReadBlock - unread, reader->file);
        reader->end += got;
        reader->block[reader->end] = '\n';
        if (got == 0) {
            if (std::ferror(reader->file)) return LineResult::kError;
            reader->atEnd = true;
        }
    }
}

void BufferedBytes(const LineReader *reader, const char **begin, const char **end) {
    *begin = reader->block + reader->start;
    *end = reader->block + reader->end;
}

void SkipBufferedLines(LineReader *reader, size_t bytes, uint64_t lines) {
    reader->start += bytes;
    reader->lineNumber += lines;
}
