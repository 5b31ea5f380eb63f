// Round trips counted per whole millisecond. The monitor gives up on a reply
// after 1000 ms, so every round trip it logs has a bucket of its own, and
// percentiles drawn from the counts are exact; larger ones (a foreign log)
// share one bucket above the top.
#pragma once

#include <cstddef>
#include <cstdint>

const uint32_t kRttTopMs = 1000;
const size_t kRttBuckets = kRttTopMs + 2;

// Returns the bucket `rttMs` is counted in.
inline size_t RttBucket(uint32_t rttMs) { return rttMs > kRttTopMs ? kRttTopMs + 1 : rttMs; }

// Returns the nearest-rank `percent` percentile of the `total` (> 0) round
// trips counted in `counts`: the smallest of them that at least `percent`
// per cent do not exceed. One that falls in the bucket above the top is given
// as `maxMs`, the largest round trip counted, which it does not exceed.
uint32_t RttPercentile(const uint64_t *counts, uint64_t total, unsigned percent, uint32_t maxMs);

// Returns the mean absolute deviation of the `total` (> 0) round trips counted
// in `counts` from their `meanMs`; `aboveTopSumMs` is the sum of those above
// the top. Exact while the mean is within the top, as it is for the monitor's
// logs; otherwise a lower bound.
double RttMeanDeviation(const uint64_t *counts, uint64_t total, double meanMs,
                        uint64_t aboveTopSumMs);
