// UTC dates and times as whole seconds since 1970-01-01 00:00:00, in the
// proleptic Gregorian calendar; the daily logs know no other zone.
#pragma once

#include <cstddef>
#include <cstdint>

const int64_t kSecondsPerDay = 86400;

// Returns the floor of `a` / `b` for a positive `b`: the day or hour a
// moment falls in, before 1970 too.
int64_t FloorDivide(int64_t a, int64_t b);

// Returns the number of days from 1970-01-01 to the date `year`-`month`-`day`
// (negative before it). The date must be a real one.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

// Returns true when `year`-`month`-`day` names a day of the calendar.
bool IsCivilDate(int64_t year, unsigned month, unsigned day);

// Reads exactly `count` (at most 9) decimal digits at `text` into `value`;
// returns false when one is no digit.
bool ReadDigits(const char *text, size_t count, unsigned *value);

// Reads the date a daily log is named after from `path`: the file's own name,
// without the folders that the platform's paths may name before it, must be
// "YYYY-MM-DD.tsv" with a real date. On success stores the days
// since 1970-01-01 in `day` and returns true.
bool ParseLogFileDate(const char *path, int64_t *day);

// How FormatUtc writes a moment.
enum class UtcStyle {
    kReadable,  // "2026-12-31 23:59:58"
    kIso,       // "2026-12-31T23:59:58Z"
    kDate,      // "2026-12-31"
    kHour,      // "2026-12-31 23:00", the hour `seconds` falls in
    kClock,     // "23:59"
};

// Writes `seconds` (since 1970-01-01 00:00:00 UTC) into `out` in `style`;
// `size` of 32 bytes holds every style.
void FormatUtc(int64_t seconds, UtcStyle style, char *out, size_t size);

// Writes the span `seconds` into `out` as "h:mm:ss", with "Nd " ahead of it
// from one day on; 32 bytes hold every span.
void FormatDuration(int64_t seconds, char *out, size_t size);
