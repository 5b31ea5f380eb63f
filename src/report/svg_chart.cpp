#include "calendar.h"
#include "report_output.h"
#include "svg_text.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <vector>

namespace {

// The page: one panel per target, the plot one pixel per column, with room
// on the right for the label of the last time tick.
const int kWidth = 1000;
const int kColumns = 880;
const double kLeft = 72;
const double kPlotWidth = kColumns;
const double kTitleHeight = 28, kPlotHeight = 180, kBandGap = 6, kBandHeight = 16;
const double kAxisHeight = 44, kPanelGap = 10;
const double kPanelHeight = kTitleHeight + kPlotHeight + kBandGap + kBandHeight + kAxisHeight + kPanelGap;

// Text takes the font of the page (see WriteSvgChart) and this colour.
const char kFont[] = "fill=\"#222\"";
const char kMeanColor[] = "#1f4e9c";
const char kBandColor[] = "#b3cde8";
const char kLostColor[] = "#d62728";
const char kGridColor[] = "#e3e3e3";

// UTC time across the plot, in whole hours shared by every panel.
struct TimeAxis {
    int64_t start, end;
};

// The round-trip scale of one panel: 0 to `top` in ticks of `step` ms.
struct RttScale {
    uint64_t step, top;
};

// The probes of one slot of whole minutes, at least one column wide.
struct Slot {
    uint32_t answered, lost;
    uint32_t minMs, maxMs;
    uint64_t sumMs;
};

// The vertical places of one panel.
struct Panel {
    double top, plotTop, plotBottom, bandTop, bandBottom;
};

// Returns the whole UTC hours from the first probe of any target to the
// last; an edge of the window takes the place of the hour on its side.
TimeAxis AxisOf(const LogSummary &summary) {
    TimeAxis axis = {INT64_MAX, INT64_MIN};
    for (const TargetSummary &target : summary.targets) {
        axis.start = std::min(axis.start, FloorDivide(target.firstTime, 3600) * 3600);
        axis.end = std::max(axis.end, (FloorDivide(target.lastTime, 3600) + 1) * 3600);
    }
    if (summary.window.hasSince) axis.start = summary.window.since;
    if (summary.window.hasUntil) axis.end = summary.window.until;
    return axis;
}

double XOf(const TimeAxis &axis, int64_t time) {
    return kLeft + static_cast<double>(time - axis.start) * kPlotWidth /
                       static_cast<double>(axis.end - axis.start);
}

// Returns the plot column `time` falls in.
int ColumnOf(const TimeAxis &axis, int64_t time) {
    const int64_t column = (time - axis.start) * kColumns / (axis.end - axis.start);
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(column, 0), kColumns - 1));
}

// Returns the smallest scale of 1, 2 or 5 times a power of ten per tick
// whose top lies above `maxMs` within six ticks, so that the largest round
// trip never runs along the top edge.
RttScale ScaleFor(uint32_t maxMs) {
    for (uint64_t magnitude = 1;; magnitude *= 10) {
        for (uint64_t factor : {1u, 2u, 5u}) {
            const uint64_t step = factor * magnitude;
            const uint64_t ticks = maxMs / step + 1;
            if (ticks <= 6) return {step, step * ticks};
        }
    }
}

double YOf(const Panel &panel, const RttScale &scale, double ms) {
    return panel.plotBottom - ms * kPlotHeight / static_cast<double>(scale.top);
}

// Returns the step of the time ticks: a round one that gives at most eight.
int64_t TickStep(int64_t span) {
    static const int64_t kSteps[] = {60,    120,   300,   600,   900,    1800,   3600,   7200,
                                     10800, 21600, 43200, 86400, 172800, 604800, 1209600};
    for (int64_t step : kSteps) {
        if (span / step <= 8) return step;
    }
    const int64_t weeks = 604800;
    return (span / 8 + weeks - 1) / weeks * weeks;
}

// Writes the title line of a panel.
void WriteTitle(FILE *out, const Panel &panel, const TargetSummary &target) {
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s font-size=\"13\"><tspan font-weight=\"bold\">",
                 kLeft, panel.top + 18, kFont);
    WriteXmlText(out, target.target);
    std::fprintf(out, "</tspan><tspan fill=\"#666\" dx=\"8\">round-trip time and lost probes</tspan></text>\n");
}

// Writes the grid, the tick labels and the axis titles.
void WriteAxes(FILE *out, const Panel &panel, const TimeAxis &axis, const RttScale &scale) {
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#fff\" stroke=\"#999\"/>\n",
                 kLeft, panel.plotTop, kPlotWidth, kPlotHeight);
    for (uint64_t ms = 0; ms <= scale.top; ms += scale.step) {
        const double y = YOf(panel, scale, static_cast<double>(ms));
        if (ms > 0 && ms < scale.top) {
            std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                         kLeft, y, kLeft + kPlotWidth, y, kGridColor);
        }
        std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s text-anchor=\"end\">%" PRIu64 "</text>\n",
                     kLeft - 6, y + 4, kFont, ms);
    }
    const int64_t step = TickStep(axis.end - axis.start);
    for (int64_t tick = (FloorDivide(axis.start - 1, step) + 1) * step; tick <= axis.end; tick += step) {
        const double x = XOf(axis, tick);
        char label[32];
        const bool midnight = FloorDivide(tick, kSecondsPerDay) * kSecondsPerDay == tick;
        FormatUtc(tick, midnight ? UtcStyle::kDate : UtcStyle::kClock, label, sizeof label);
        std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n", x,
                     panel.plotTop, x, panel.bandBottom + 4, midnight ? "#bbb" : kGridColor);
        std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s text-anchor=\"middle\">%s</text>\n", x,
                     panel.bandBottom + 16, kFont, label);
    }
    const double middle = (panel.plotTop + panel.plotBottom) / 2;
    std::fprintf(out, "<text x=\"16\" y=\"%.1f\" %s text-anchor=\"middle\" transform=\"rotate(-90 16 %.1f)\">RTT (ms)</text>\n",
                 middle, kFont, middle);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s text-anchor=\"middle\">UTC time</text>\n",
                 kLeft + kPlotWidth / 2, panel.bandBottom + 34, kFont);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s text-anchor=\"end\">lost</text>\n", kLeft - 6,
                 panel.bandBottom - 3, kFont);
}

// Writes the key to the marks, at the right of the axis title line.
void WriteLegend(FILE *out, const Panel &panel) {
    const double x = kLeft + kPlotWidth - 300, y = panel.bandBottom + 34;
    std::fprintf(out, "<g>\n");
    std::fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"2\"/>\n",
                 x, y - 4, x + 18, y - 4, kMeanColor);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s>mean</text>\n", x + 22, y, kFont);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"8\" fill=\"%s\"/>\n", x + 70, y - 8,
                 kBandColor);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s>min\xE2\x80\x93max</text>\n", x + 92, y, kFont);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"3\" height=\"10\" fill=\"%s\"/>\n", x + 155, y - 9,
                 kLostColor);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s>lost probe</text>\n", x + 162, y, kFont);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"10\" fill=\"%s\" fill-opacity=\"0.15\" stroke=\"%s\" stroke-opacity=\"0.4\"/>\n",
                 x + 235, y - 9, kLostColor, kLostColor);
    std::fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" %s>outage</text>\n</g>\n", x + 257, y, kFont);
}

// Shades each outage over the plot and the loss band, at least 2 px wide.
void WriteOutages(FILE *out, const Panel &panel, const TimeAxis &axis, const TargetSummary &target) {
    for (const Outage &outage : target.outages) {
        const double x0 = XOf(axis, outage.start);
        const double x1 = std::max(XOf(axis, outage.end), x0 + 2);
        std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" fill-opacity=\"0.15\"/>\n",
                     x0, panel.plotTop, x1 - x0, panel.bandBottom - panel.plotTop, kLostColor);
    }
}

// Returns the length of a slot: whole minutes, at least one column.
int64_t SlotSeconds(const TimeAxis &axis) {
    const int64_t perColumn = (axis.end - axis.start + kColumns - 1) / kColumns;
    return std::max<int64_t>(60, (perColumn + 59) / 60 * 60);
}

// Returns the probes of `target` per slot of `slot` seconds along `axis`.
std::vector<Slot> SlotsOf(const TimeAxis &axis, int64_t slot, const TargetSummary &target) {
    std::vector<Slot> slots(static_cast<size_t>((axis.end - axis.start + slot - 1) / slot),
                            Slot{0, 0, UINT32_MAX, 0, 0});
    for (const HourSummary &hour : target.hours) {
        const int64_t start = hour.hour * 3600 - axis.start;
        for (int minute = 0; minute < 60; ++minute) {
            const MinuteRtt &seen = hour.minutes[minute];
            if (seen.answered == 0) continue;
            Slot &into = slots[static_cast<size_t>((start + minute * 60) / slot)];
            into.answered += seen.answered;
            into.sumMs += seen.sumMs;
            into.minMs = std::min(into.minMs, seen.minMs);
            into.maxMs = std::max(into.maxMs, seen.maxMs);
        }
        if (hour.lost == 0) continue;
        for (int second = 0; second < 3600; ++second) {
            if ((hour.lostSeconds[second / 8] >> (second % 8)) & 1) {
                ++slots[static_cast<size_t>((start + second) / slot)].lost;
            }
        }
    }
    return slots;
}

// Draws the round trips: per slot the band from the least to the largest,
// and a step line through the mean.
void WriteRoundTrips(FILE *out, const Panel &panel, const TimeAxis &axis, const RttScale &scale,
                     int64_t slot, const std::vector<Slot> &slots) {
    std::fprintf(out, "<path fill=\"%s\" d=\"", kBandColor);
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].answered == 0) continue;
        const int64_t from = axis.start + static_cast<int64_t>(i) * slot;
        const double x0 = XOf(axis, from), x1 = XOf(axis, std::min(from + slot, axis.end));
        const double top = YOf(panel, scale, slots[i].maxMs);
        const double bottom = std::max(YOf(panel, scale, slots[i].minMs), top + 1);
        std::fprintf(out, "M%.1f %.1fH%.1fV%.1fH%.1fZ", x0, top, x1, bottom, x0);
    }
    std::fprintf(out, "\"/>\n<path fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" d=\"", kMeanColor);
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].answered == 0) continue;
        const int64_t from = axis.start + static_cast<int64_t>(i) * slot;
        const double x0 = XOf(axis, from), x1 = XOf(axis, std::min(from + slot, axis.end));
        const double mean = static_cast<double>(slots[i].sumMs) / slots[i].answered;
        const bool joined = i > 0 && slots[i - 1].answered > 0;
        std::fprintf(out, "%c%.1f %.1fH%.1f", joined ? 'L' : 'M', x0, YOf(panel, scale, mean), x1);
    }
    std::fprintf(out, "\"/>\n");
}

// Marks each column of the loss band in which a probe failed, as high as
// the share of the probes of its slot that failed, and never so low that a
// single one is lost from sight.
void WriteLostProbes(FILE *out, const Panel &panel, const TimeAxis &axis, int64_t slot,
                     const std::vector<Slot> &slots, const TargetSummary &target) {
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#f3f3f3\" stroke=\"#ccc\"/>\n",
                 kLeft, panel.bandTop, kPlotWidth, kBandHeight);
    std::vector<double> heights(kColumns, 0);
    for (const HourSummary &hour : target.hours) {
        if (hour.lost == 0) continue;
        for (int second = 0; second < 3600; ++second) {
            if (((hour.lostSeconds[second / 8] >> (second % 8)) & 1) == 0) continue;
            const int64_t time = hour.hour * 3600 + second;
            const Slot &in = slots[static_cast<size_t>((time - axis.start) / slot)];
            const double share = static_cast<double>(in.lost) / (in.lost + in.answered);
            heights[static_cast<size_t>(ColumnOf(axis, time))] =
                std::round(kBandHeight * std::max(0.25, share));
        }
    }
    for (int column = 0; column < kColumns;) {
        const double height = heights[static_cast<size_t>(column)];
        int end = column + 1;
        while (end < kColumns && heights[static_cast<size_t>(end)] == height) ++end;
        if (height > 0) {
            std::fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" fill=\"%s\"/>\n",
                         kLeft + column, panel.bandBottom - height, end - column, height, kLostColor);
        }
        column = end;
    }
}

}  // namespace

void WriteSvgChart(FILE *out, const LogSummary &summary) {
    const size_t count = summary.targets.size();
    const double height = count == 0 ? 60 : 12 + kPanelHeight * static_cast<double>(count);
    std::fprintf(out,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%.0f\" "
                 "viewBox=\"0 0 %d %.0f\" shape-rendering=\"crispEdges\" "
                 "font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" font-size=\"11\">\n"
                 "<title>Round-trip time and lost probes per target, UTC</title>\n"
                 "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n",
                 kWidth, height, kWidth, height);
    if (count == 0) {
        std::fprintf(out, "<text x=\"%.1f\" y=\"34\" %s>No rows in the %s.</text>\n", kLeft, kFont,
                     IsWindowed(summary.window) ? "window" : "logs");
    } else {
        const TimeAxis axis = AxisOf(summary);
        for (size_t i = 0; i < count; ++i) {
            const TargetSummary &target = summary.targets[i];
            Panel panel;
            panel.top = 12 + kPanelHeight * static_cast<double>(i);
            panel.plotTop = panel.top + kTitleHeight;
            panel.plotBottom = panel.plotTop + kPlotHeight;
            panel.bandTop = panel.plotBottom + kBandGap;
            panel.bandBottom = panel.bandTop + kBandHeight;
            const RttScale scale = ScaleFor(target.answered > 0 ? target.rttMaxMs : 0);
            WriteTitle(out, panel, target);
            WriteAxes(out, panel, axis, scale);
            const int64_t slot = SlotSeconds(axis);
            const std::vector<Slot> slots = SlotsOf(axis, slot, target);
            WriteLostProbes(out, panel, axis, slot, slots, target);
            WriteOutages(out, panel, axis, target);
            if (target.answered > 0) WriteRoundTrips(out, panel, axis, scale, slot, slots);
            WriteLegend(out, panel);
        }
    }
    std::fprintf(out, "</svg>\n");
}
