// The span of UTC time a report keeps to, and the forms its edges take on
// the command line.
#pragma once

#include <cstdint>

// One edge as the command line gives it: a moment, or a span before now.
struct WindowEdge {
    bool given = false;
    bool beforeNow = false;  // `seconds` is a span back from now
    int64_t seconds = 0;     // since 1970-01-01 00:00:00 UTC, or the span
};

// The rows from `since` on and before `until` count; an edge not given
// lets every row through on its side.
struct TimeWindow {
    bool hasSince = false, hasUntil = false;
    int64_t since = INT64_MIN, until = INT64_MAX;
};

// Reads a moment in UTC into `seconds`: "2026-12-01T10:00:00Z" (the seconds,
// the "Z" may go; a space may stand for the "T") or a date alone,
// "2026-12-01", its midnight. Returns false for anything else.
bool ParseMoment(const char *text, int64_t *seconds);

// Reads an edge of the window: a moment as ParseMoment reads it, or a span
// before now, a number from 0 to 999999999 and its unit: "90s", "15m",
// "24h", "7d". Returns false for anything else.
bool ParseWindowEdge(const char *text, WindowEdge *edge);

// Returns the moment `edge` (given) names when now is `now`.
int64_t EdgeMoment(const WindowEdge &edge, int64_t now);

// Returns true when the window has an edge.
bool IsWindowed(const TimeWindow &window);

// Returns true when some of the UTC day `day` (days since 1970-01-01) lies
// inside `window`.
bool WindowHoldsDay(const TimeWindow &window, int64_t day);
