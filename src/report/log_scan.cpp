#include "log_scan.h"

#include "calendar.h"

bool ScanLog(LineReader *reader, FILE *stream, LogFile *file, LogPart *part, NoteSkippedLine note,
             void *context) {
    StartLines(reader, stream);
    part->dayStart = file->day * kSecondsPerDay;
    for (;;) {
        // Most rows are plain and read where they lie in the buffer.
        const char *begin = nullptr, *end = nullptr;
        BufferedBytes(reader, &begin, &end);
        uint64_t rows = 0;
        const size_t bytes = AddPlainRows(part, begin, end, &rows);
        SkipBufferedLines(reader, bytes, rows);
        file->rows += rows;

        // The next line, the careful way: it may be no row, or lie only
        // partly in the buffer.
        const char *line = nullptr;
        size_t length = 0;
        RowProblem problem = RowProblem::kNone;
        LogRow row;
        switch (ReadLine(reader, &line, &length)) {
        case LineResult::kEnd: return true;
        case LineResult::kError: return false;
        case LineResult::kTooLong: problem = RowProblem::kTooLong; break;
        case LineResult::kPartial: problem = RowProblem::kPartial; break;
        case LineResult::kLine: problem = ParseLogRow(line, length, &row); break;
        }
        if (problem != RowProblem::kNone) {
            ++file->skipped;
            if (!note(context, reader->lineNumber, problem)) return false;
            continue;
        }
        ++file->rows;
        AddPartRow(part, row);
    }
}
