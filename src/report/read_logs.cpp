#include "read_logs.h"

#include "calendar.h"
#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Says on `problems` that the `lineNumber`th line of `file` was skipped.
void ReportSkipped(FILE *problems, const LogFile &file, uint64_t lineNumber, RowProblem problem) {
    std::fprintf(problems, "vesperix-report: %s:%llu: skipped: %s\n", file.path.c_str(),
                 static_cast<unsigned long long>(lineNumber), RowProblemText(problem));
}

// Reads the rows of one open log into `summary`. Returns false with errno
// set when it could not be read to its end.
bool ReadRows(LogSummary *summary, LogFile *file, FILE *stream, FILE *problems) {
    static LineReader reader;  // far larger than a stack frame should be
    StartLines(&reader, stream);
    const int64_t dayStart = file->day * kSecondsPerDay;
    for (;;) {
        const char *line = nullptr;
        size_t length = 0;
        RowProblem problem = RowProblem::kNone;
        LogRow row;
        switch (ReadLine(&reader, &line, &length)) {
        case LineResult::kEnd: return true;
        case LineResult::kError: return false;
        case LineResult::kTooLong: problem = RowProblem::kTooLong; break;
        case LineResult::kPartial: problem = RowProblem::kPartial; break;
        case LineResult::kLine: problem = ParseLogRow(line, length, &row); break;
        }
        if (problem != RowProblem::kNone) {
            ++file->skipped;
            ReportSkipped(problems, *file, reader.lineNumber, problem);
            continue;
        }
        ++file->rows;
        AddLogRow(summary, dayStart + row.secondOfDay, row);
    }
}

}  // namespace

bool AddLogFiles(LogSummary *summary, char *const *paths, int count, FILE *problems) {
    bool named = true;
    for (int i = 0; i < count; ++i) {
        int64_t day = 0;
        if (!ParseLogFileDate(paths[i], &day)) {
            std::fprintf(problems,
                         "vesperix-report: %s: not a daily log: its name is no date "
                         "(YYYY-MM-DD.tsv)\n",
                         paths[i]);
            named = false;
            continue;
        }
        summary->files.push_back({paths[i], day, 0, 0});
    }
    std::stable_sort(summary->files.begin(), summary->files.end(),
                     [](const LogFile &a, const LogFile &b) { return a.day < b.day; });
    return named;
}

bool ReadLogFiles(LogSummary *summary, FILE *problems) {
    for (LogFile &file : summary->files) {
        FILE *stream = std::fopen(file.path.c_str(), "rb");
        if (stream == nullptr || !ReadRows(summary, &file, stream, problems)) {
            std::fprintf(problems, "vesperix-report: %s: cannot read it: %s\n", file.path.c_str(),
                         std::strerror(errno));
            if (stream != nullptr) std::fclose(stream);
            return false;
        }
        std::fclose(stream);
    }
    FinishLogSummary(summary);
    return true;
}
