#include "plugin_check.h"

#include "calendar.h"
#include "figures.h"
#include "read_logs.h"
#include "utf8_text.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <string>

namespace {

const char *StateName(CheckState state) {
    switch (state) {
    case CheckState::kOk: return "OK";
    case CheckState::kWarning: return "WARNING";
    case CheckState::kCritical: return "CRITICAL";
    case CheckState::kUnknown: break;
    }
    return "UNKNOWN";
}

// Returns how bad `state` is: CRITICAL is worse than WARNING, which is
// worse than UNKNOWN, which is worse than OK.
int Badness(CheckState state) {
    switch (state) {
    case CheckState::kOk: return 0;
    case CheckState::kUnknown: return 1;
    case CheckState::kWarning: return 2;
    case CheckState::kCritical: return 3;
    }
    return 1;
}

// A target's figures as the line shows them and as they are judged, so that
// the two always agree: thousandths of a millisecond or of a per cent.
struct CheckFigures {
    bool rttKnown, availabilityKnown;
    int64_t rtt, loss, availability;
    const Outage *open;  // the last open outage, or null
};

CheckFigures FiguresOf(const TargetSummary &target) {
    const TargetFigures figures = FigureTarget(target);
    CheckFigures check = {};
    check.rttKnown = target.answered > 0;
    if (check.rttKnown) {
        // The mean, rounded half up.
        check.rtt = static_cast<int64_t>((target.rttSumMs * 2000 + target.answered) /
                                         (2 * target.answered));
    }
    check.loss = std::llround(figures.lossPercent * 1000);
    check.availabilityKnown = figures.availabilityKnown;
    if (check.availabilityKnown) check.availability = std::llround(figures.availabilityPercent * 1000);
    for (const Outage &outage : target.outages) {
        if (outage.open) check.open = &outage;
    }
    return check;
}

// Returns true when `figures` pass one of `thresholds`.
bool Passes(const CheckFigures &figures, const CheckThresholds &thresholds) {
    if (!thresholds.given) return false;
    if (figures.rttKnown && figures.rtt > thresholds.rttThousandths) return true;
    if (figures.loss > thresholds.lossThousandths) return true;
    return thresholds.hasAvailability && figures.availabilityKnown &&
           figures.availability < thresholds.availabilityThousandths;
}

CheckState Judge(const CheckFigures &figures, const ReportOptions &options) {
    if (figures.open != nullptr || Passes(figures, options.critical)) return CheckState::kCritical;
    if (Passes(figures, options.warning)) return CheckState::kWarning;
    return CheckState::kOk;
}

// Returns `text` fit for the line: no "|", which would start the
// performance data, and "?" for bytes that are no UTF-8; with `quote`, a
// label's: no "=", and a quote doubled.
std::string LineText(const std::string &text, bool quote) {
    std::string fit;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(bytes + i, text.size() - i);
        if (length == 0) {
            fit += '?';
            ++i;
            continue;
        }
        const char c = text[i];
        if (c == '|' || (quote && c == '=')) {
            fit += '_';
        } else {
            if (quote && c == '\'') fit += '\'';
            fit.append(text, i, length);
        }
        i += length;
    }
    return fit;
}

// Returns `thousandths` as the line writes a figure.
std::string Number(int64_t thousandths) {
    char text[32];
    FormatThousandths(thousandths, text, sizeof text);
    return text;
}

// Returns what the line says of one target.
std::string Description(const CheckFigures &figures) {
    std::string text;
    if (figures.open != nullptr) {
        char start[32];
        FormatUtc(figures.open->start, UtcStyle::kReadable, start, sizeof start);
        text += std::string("outage open since ") + start + " UTC, ";
    }
    text += "loss " + Number(figures.loss) + "%, ";
    text += figures.rttKnown ? "rta " + Number(figures.rtt) + " ms, " : std::string("no answers, ");
    text += "availability ";
    text += figures.availabilityKnown ? Number(figures.availability) + "%" : std::string("-");
    return text;
}

// Returns one value of the performance data: `label`=value, its unit, the
// warning and critical thresholds (empty when not given), and the bounds.
std::string Performance(const std::string &label, bool known, int64_t value, const char *unit,
                        const std::string &warning, const std::string &critical,
                        const char *bounds) {
    return label + "=" + (known ? Number(value) + unit : std::string("U")) + ";" + warning + ";" +
           critical + ";" + bounds;
}

// Returns the performance data of one target; `prefix` starts its labels
// when the logs hold several targets.
std::string PerformanceData(const CheckFigures &figures, const ReportOptions &options,
                            const std::string &prefix) {
    const CheckThresholds &warning = options.warning, &critical = options.critical;
    const auto label = [&](const char *name) {
        return prefix.empty() ? std::string(name) : "'" + prefix + " " + name + "'";
    };
    const auto threshold = [](const CheckThresholds &given, int64_t value) {
        return given.given ? Number(value) : std::string();
    };
    // An availability alerts below its threshold: the range "N:".
    const auto least = [](const CheckThresholds &given) {
        return given.hasAvailability ? Number(given.availabilityThousandths) + ":" : std::string();
    };
    return Performance(label("rta"), figures.rttKnown, figures.rtt, "ms",
                       threshold(warning, warning.rttThousandths),
                       threshold(critical, critical.rttThousandths), "0") +
           " " +
           Performance(label("pl"), true, figures.loss, "%",
                       threshold(warning, warning.lossThousandths),
                       threshold(critical, critical.lossThousandths), "0;100") +
           " " +
           Performance(label("availability"), figures.availabilityKnown, figures.availability, "%",
                       least(warning), least(critical), "0;100");
}

// Writes the status line and returns the exit status of `state`.
int WriteStatus(FILE *out, CheckState state, const std::string &text) {
    std::fprintf(out, "VESPERIX %s - %s\n", StateName(state), text.c_str());
    if (std::fflush(out) != 0 || std::ferror(out) != 0) return static_cast<int>(CheckState::kUnknown);
    return static_cast<int>(state);
}

}  // namespace

int ReportCheckProblem(FILE *out, const char *problem) {
    return WriteStatus(out, CheckState::kUnknown, LineText(problem, false));
}

int RunCheck(FILE *out, const ReportOptions &options, const TimeWindow &window) {
    char problem[512];
    if (options.files.empty()) return ReportCheckProblem(out, "no daily log named");
    for (const char *path : options.files) {
        int64_t day;
        if (!ParseLogFileDate(path, &day)) {
            std::snprintf(problem, sizeof problem,
                          "%s: not a daily log: its name is no date (YYYY-MM-DD.tsv)", path);
            return ReportCheckProblem(out, problem);
        }
    }
    LogSummary summary;
    summary.minOutageProbes = options.minOutageProbes;
    summary.window = window;
    AddLogFiles(&summary, options.files.data(), static_cast<int>(options.files.size()), nullptr);
    LogReadFailure failure;
    if (!ReadLogFiles(&summary, nullptr, &failure)) {
        std::snprintf(problem, sizeof problem, "%s: cannot read it: %s",
                      summary.files[failure.file].path.c_str(), std::strerror(failure.error));
        return ReportCheckProblem(out, problem);
    }
    if (summary.targets.empty()) {
        return ReportCheckProblem(out, IsWindowed(window) ? "no rows in the window" : "no rows in the logs");
    }
    const bool several = summary.targets.size() > 1;
    CheckState worst = CheckState::kOk;
    std::string text, performance;
    for (const TargetSummary &target : summary.targets) {
        const CheckFigures figures = FiguresOf(target);
        const CheckState state = Judge(figures, options);
        if (Badness(state) > Badness(worst)) worst = state;
        if (!text.empty()) text += "; ";
        text += LineText(target.target, false);
        if (several) text += std::string(" ") + StateName(state);
        text += ": " + Description(figures);
        if (!performance.empty()) performance += " ";
        performance += PerformanceData(figures, options, several ? LineText(target.target, true) : "");
    }
    return WriteStatus(out, worst, text + "|" + performance);
}
