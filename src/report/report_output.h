// The report in each of its forms. Each writes the same figures (see
// figures.h) of every target of a finished summary to `out`.
#pragma once

#include "log_summary.h"

#include <cstdio>

// Readable text: per target its summary, its outages and its hours.
void WriteTextReport(FILE *out, const LogSummary &summary);

// CSV for scripts: five tables (files, targets, failures, outages, hours),
// each with a header line, separated by an empty line; with a window, a
// sixth that tells it.
void WriteCsvReport(FILE *out, const LogSummary &summary);

// One JSON object holding the files and the targets.
void WriteJsonReport(FILE *out, const LogSummary &summary);

// The OpenMetrics text format, for Prometheus through node_exporter's
// textfile collector: per target (its label `target`) counters of probes,
// lost probes and outages, gauges of the last round trip and of the
// availability, and a histogram of the round trips; it ends with "# EOF".
void WriteOpenMetricsReport(FILE *out, const LogSummary &summary);

// A self-contained SVG picture with one chart per target: the round trips
// over UTC time, each failed probe as a mark on a band below, and the
// outages shaded.
void WriteSvgChart(FILE *out, const LogSummary &summary);
