#include "read_logs.h"

#include "calendar.h"
#include "log_scan.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// How many bytes of messages about skipped lines one log may hold while
// the logs before it are still read; past that its reader waits its turn.
const size_t kMostHeldMessages = 64 * 1024;

// One log: what it says until it is joined to the summary.
struct LogJob {
    LogPart part;
    std::string messages;  // about its skipped lines, not yet written
    bool read = false;     // its reader is done with it
    bool failed = false;   // it could not be read, for the reason `error`
    int error = 0;
    bool direct = false;   // every log before it is joined: it writes at once
};

// What the threads reading the logs share; `lock` guards all but the jobs
// that a thread has taken and not finished.
struct Reading {
    LogSummary *summary;
    FILE *problems;
    std::deque<LogJob> jobs;  // by the files of the summary
    std::mutex lock;
    std::condition_variable turns;  // `nextJoin` moved or `stopped` was set
    size_t nextRead = 0, nextJoin = 0;
    bool stopped = false;  // a log could not be read: no later one counts
    LogReadFailure failure;  // once stopped
};

// What a reader tells NoteSkipped.
struct NoteContext {
    Reading *reading;
    size_t job;
};

// Keeps the message about a skipped line in the order of the logs. Waits
// for the turn of its log when it holds too many. Returns false when an
// earlier log could not be read, as no later line is to be named then.
bool NoteSkipped(void *context, uint64_t lineNumber, RowProblem problem) {
    const NoteContext *note = static_cast<const NoteContext *>(context);
    Reading *reading = note->reading;
    if (reading->problems == nullptr) return true;
    LogJob &job = reading->jobs[note->job];
    char message[320];
    std::snprintf(message, sizeof message, "vesperix-report: %s:%llu: skipped: %s\n",
                  reading->summary->files[note->job].path.c_str(),
                  static_cast<unsigned long long>(lineNumber), RowProblemText(problem));
    if (job.direct) {
        std::fputs(message, reading->problems);
        return true;
    }
    job.messages += message;
    if (job.messages.size() < kMostHeldMessages) return true;
    std::unique_lock<std::mutex> held(reading->lock);
    reading->turns.wait(held, [&] { return reading->stopped || reading->nextJoin == note->job; });
    if (reading->stopped) return false;
    // No other thread writes to `problems` until this log is read and joined.
    std::fputs(job.messages.c_str(), reading->problems);
    job.messages = std::string();
    job.direct = true;
    return true;
}

// Joins every log that is read and whose turn it is, writing its messages;
// stops all at a log that could not be read. Called with `lock` held.
void JoinReadLogs(Reading *reading) {
    while (!reading->stopped && reading->nextJoin < reading->jobs.size() &&
           reading->jobs[reading->nextJoin].read) {
        LogJob &job = reading->jobs[reading->nextJoin];
        if (reading->problems != nullptr) std::fputs(job.messages.c_str(), reading->problems);
        job.messages = std::string();
        if (job.failed) {
            if (reading->problems != nullptr) {
                std::fprintf(reading->problems, "vesperix-report: %s: cannot read it: %s\n",
                             reading->summary->files[reading->nextJoin].path.c_str(),
                             std::strerror(job.error));
            }
            reading->failure.file = reading->nextJoin;
            reading->failure.error = job.error;
            reading->stopped = true;
            break;
        }
        JoinLogPart(reading->summary, &job.part);
        ++reading->nextJoin;
    }
    reading->turns.notify_all();
}

// Reads logs, the next one not yet taken each time, until none is left.
void ReadLogs(Reading *reading) {
    std::unique_ptr<LineReader> reader(new LineReader());  // zeroed: its padding too
    for (;;) {
        size_t index;
        {
            std::lock_guard<std::mutex> held(reading->lock);
            if (reading->stopped || reading->nextRead == reading->jobs.size()) return;
            index = reading->nextRead++;
        }
        LogJob &job = reading->jobs[index];
        LogFile &file = reading->summary->files[index];
        job.part.minOutageProbes = reading->summary->minOutageProbes;
        job.part.since = reading->summary->window.since;
        job.part.until = reading->summary->window.until;
        NoteContext note = {reading, index};
        FILE *stream = std::fopen(file.path.c_str(), "rb");
        const bool read =
            stream != nullptr && ScanLog(reader.get(), stream, &file, &job.part, NoteSkipped, &note);
        const int error = errno;
        if (stream != nullptr) std::fclose(stream);
        file.outside = job.part.outsideRows;
        std::lock_guard<std::mutex> held(reading->lock);
        job.read = true;
        job.failed = !read;
        job.error = error;
        JoinReadLogs(reading);
    }
}

}  // namespace

bool AddLogFiles(LogSummary *summary, char *const *paths, int count, FILE *problems) {
    bool named = true;
    for (int i = 0; i < count; ++i) {
        int64_t day = 0;
        if (!ParseLogFileDate(paths[i], &day)) {
            if (problems != nullptr) {
                std::fprintf(problems,
                             "vesperix-report: %s: not a daily log: its name is no date "
                             "(YYYY-MM-DD.tsv)\n",
                             paths[i]);
            }
            named = false;
            continue;
        }
        if (!WindowHoldsDay(summary->window, day)) {
            ++summary->filesOutside;
            continue;
        }
        summary->files.push_back({paths[i], day, 0, 0, 0});
    }
    std::stable_sort(summary->files.begin(), summary->files.end(),
                     [](const LogFile &a, const LogFile &b) { return a.day < b.day; });
    return named;
}

bool ReadLogFiles(LogSummary *summary, FILE *problems, LogReadFailure *failure) {
    Reading reading;
    reading.summary = summary;
    reading.problems = problems;
    reading.jobs.resize(summary->files.size());
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min(cores, summary->files.size()) - (summary->files.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < helpers; ++i) {
        // Fewer threads only make it slower.
        try {
            threads.emplace_back(ReadLogs, &reading);
        } catch (const std::system_error &) {
            break;
        }
    }
    ReadLogs(&reading);
    for (std::thread &thread : threads) thread.join();
    if (reading.stopped) {
        if (failure != nullptr) *failure = reading.failure;
        return false;
    }
    FinishLogSummary(summary);
    return true;
}
