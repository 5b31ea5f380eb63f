#include "rtt_histogram.h"

uint32_t RttPercentile(const uint64_t *counts, uint64_t total, unsigned percent, uint32_t maxMs) {
    uint64_t rank = (total * percent + 99) / 100;
    if (rank == 0) rank = 1;
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket <= kRttTopMs; ++bucket) {
        seen += counts[bucket];
        if (seen >= rank) return static_cast<uint32_t>(bucket);
    }
    return maxMs;
}

double RttMeanDeviation(const uint64_t *counts, uint64_t total, double meanMs,
                        uint64_t aboveTopSumMs) {
    double sum = 0;
    for (size_t bucket = 0; bucket <= kRttTopMs; ++bucket) {
        const double distance = static_cast<double>(bucket) - meanMs;
        sum += static_cast<double>(counts[bucket]) * (distance < 0 ? -distance : distance);
    }
    // Above the top only their sum is known: exact while all lie above the mean.
    const double aboveTop = static_cast<double>(aboveTopSumMs) -
                            static_cast<double>(counts[kRttTopMs + 1]) * meanMs;
    sum += aboveTop < 0 ? -aboveTop : aboveTop;
    return sum / static_cast<double>(total);
}
