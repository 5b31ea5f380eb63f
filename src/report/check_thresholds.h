// The thresholds of --check, in the forms of the monitoring plugins'
// -w and -c: "RTA,PL%", with an availability after them if wanted.
#pragma once

#include <cstddef>
#include <cstdint>

// Every figure in thousandths: of a millisecond, of a per cent.
struct CheckThresholds {
    bool given = false;
    int64_t rttThousandths = 0;   // a mean round trip above this alerts
    int64_t lossThousandths = 0;  // a loss above this per cent alerts
    bool hasAvailability = false;
    int64_t availabilityThousandths = 0;  // an availability below this per cent alerts
};

// Reads "RTA,PL%" or "RTA,PL%,AV%" into `thresholds`: RTA a number of
// milliseconds, PL and AV per cent from 0 to 100, each with at most three
// decimals; the per cent signs may go. Returns false for anything else.
bool ParseThresholds(const char *text, CheckThresholds *thresholds);

// Writes `thousandths` (0 or more) into `out` as a decimal number, without
// the zeros a fraction would end in ("20", "2.5", "47.619"); 32 bytes hold
// any.
void FormatThousandths(int64_t thousandths, char *out, size_t size);
