#include "figures.h"
#include "report_output.h"
#include "utf8_text.h"

#include <cinttypes>
#include <string>

namespace {

// The upper bounds of the round-trip histogram's buckets, in milliseconds:
// a few series per target, where one per millisecond would be a thousand.
// Each is a whole millisecond, like every round trip the monitor logs, so
// the counts taken from the exact per-millisecond ones are exact too.
const uint32_t kBucketBoundsMs[] = {0, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};

// Writes the metadata of one metric family; `unit` may be null.
void WriteFamily(FILE *out, const char *name, const char *type, const char *unit, const char *help) {
    std::fprintf(out, "# TYPE %s %s\n", name, type);
    if (unit != nullptr) std::fprintf(out, "# UNIT %s %s\n", name, unit);
    std::fprintf(out, "# HELP %s %s\n", name, help);
}

// Writes `name` and the label set of `target`, open for more labels.
void StartSample(FILE *out, const char *name, const TargetSummary &target) {
    std::fprintf(out, "%s{target=\"", name);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(target.target.data());
    const size_t size = target.target.size();
    for (size_t i = 0; i < size;) {
        const size_t length = Utf8Length(bytes + i, size - i);
        if (length == 0) {
            // The text must be UTF-8: a byte that is none is spelt out.
            std::fprintf(out, "\\\\x%02X", bytes[i]);
            ++i;
            continue;
        }
        if (bytes[i] == '\\' || bytes[i] == '"') std::fputc('\\', out);
        if (bytes[i] == '\n') {
            std::fputs("\\n", out);
        } else {
            std::fwrite(bytes + i, 1, length, out);
        }
        i += length;
    }
    std::fputc('"', out);
}

// Writes a whole number of milliseconds as seconds, exactly.
void WriteSeconds(FILE *out, uint64_t ms) {
    std::fprintf(out, "%" PRIu64 ".%03" PRIu64, ms / 1000, ms % 1000);
}

// Writes the bound `ms` as the value of a bucket's "le" label, as a float
// in its shortest form: "0.0", "0.005", "1.0".
void WriteBound(FILE *out, uint32_t ms) {
    if (ms % 1000 == 0) {
        std::fprintf(out, "%" PRIu32 ".0", ms / 1000);
        return;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03" PRIu32, ms % 1000);
    size_t end = 3;
    while (digits[end - 1] == '0') --end;
    digits[end] = '\0';
    std::fprintf(out, "%" PRIu32 ".%s", ms / 1000, digits);
}

void WriteCounter(FILE *out, const LogSummary &summary, const char *name, const char *help,
                  uint64_t (*count)(const TargetSummary &)) {
    WriteFamily(out, name, "counter", nullptr, help);
    const std::string sample = std::string(name) + "_total";
    for (const TargetSummary &target : summary.targets) {
        StartSample(out, sample.c_str(), target);
        std::fprintf(out, "} %" PRIu64 "\n", count(target));
    }
}

uint64_t ProbesOf(const TargetSummary &target) { return target.probes; }
uint64_t LostOf(const TargetSummary &target) { return target.lost; }
uint64_t OutagesOf(const TargetSummary &target) { return target.outages.size(); }

void WriteHistogram(FILE *out, const LogSummary &summary) {
    const char name[] = "vesperix_rtt_seconds";
    WriteFamily(out, name, "histogram", "seconds", "Round-trip times of the answered probes.");
    for (const TargetSummary &target : summary.targets) {
        uint64_t below = 0;
        size_t bucket = 0;
        for (uint32_t bound : kBucketBoundsMs) {
            for (; bucket <= bound; ++bucket) below += target.rttCounts[bucket];
            StartSample(out, "vesperix_rtt_seconds_bucket", target);
            std::fputs(",le=\"", out);
            WriteBound(out, bound);
            std::fprintf(out, "\"} %" PRIu64 "\n", below);
        }
        StartSample(out, "vesperix_rtt_seconds_bucket", target);
        std::fprintf(out, ",le=\"+Inf\"} %" PRIu64 "\n", target.answered);
        StartSample(out, "vesperix_rtt_seconds_count", target);
        std::fprintf(out, "} %" PRIu64 "\n", target.answered);
        StartSample(out, "vesperix_rtt_seconds_sum", target);
        std::fputs("} ", out);
        WriteSeconds(out, target.rttSumMs);
        std::fputc('\n', out);
    }
}

}  // namespace

void WriteOpenMetricsReport(FILE *out, const LogSummary &summary) {
    char help[160];
    WriteCounter(out, summary, "vesperix_probes", "Probes of the target in the rows read.", ProbesOf);
    WriteCounter(out, summary, "vesperix_lost_probes", "Probes of the target that got no answer.",
                 LostOf);
    std::snprintf(help, sizeof help, "Outages of the target: runs of at least %" PRIu64
                  " failed probes in a row.", summary.minOutageProbes);
    WriteCounter(out, summary, "vesperix_outages", help, OutagesOf);

    WriteFamily(out, "vesperix_last_rtt_seconds", "gauge", "seconds",
                "Round-trip time of the last answered probe; NaN when none was answered.");
    for (const TargetSummary &target : summary.targets) {
        StartSample(out, "vesperix_last_rtt_seconds", target);
        std::fputs("} ", out);
        if (target.answered > 0) {
            WriteSeconds(out, target.lastRttMs);
        } else {
            std::fputs("NaN", out);
        }
        std::fputc('\n', out);
    }

    WriteFamily(out, "vesperix_availability_ratio", "gauge", "ratio",
                "Observed time outside outages, a share of the observed time; NaN when none "
                "was observed.");
    for (const TargetSummary &target : summary.targets) {
        StartSample(out, "vesperix_availability_ratio", target);
        std::fputs("} ", out);
        const int64_t observed = target.observedSeconds;
        if (observed > 0) {
            const int64_t up = observed > target.downSeconds ? observed - target.downSeconds : 0;
            std::fprintf(out, "%.9g\n", static_cast<double>(up) / static_cast<double>(observed));
        } else {
            std::fputs("NaN\n", out);
        }
    }

    WriteHistogram(out, summary);
    std::fputs("# EOF\n", out);
}
