#include "check_thresholds.h"

#include <cstdio>
#include <cstring>

namespace {

// The largest number a threshold may be: a round trip of a thousand
// seconds lies far beyond the monitor's timeout.
const int64_t kMostThousandths = INT64_C(1000000000);

// Reads a number at `*text`, digits with up to three decimals after a point,
// in thousandths, and moves `*text` past it.
bool ReadThousandths(const char **text, int64_t *value) {
    const char *at = *text;
    int64_t whole = 0;
    if (*at < '0' || *at > '9') return false;
    for (; *at >= '0' && *at <= '9'; ++at) {
        whole = whole * 10 + (*at - '0');
        if (whole * 1000 > kMostThousandths) return false;
    }
    int64_t fraction = 0, scale = 100;
    if (*at == '.') {
        ++at;
        if (*at < '0' || *at > '9') return false;
        for (; *at >= '0' && *at <= '9'; ++at, scale /= 10) {
            if (scale == 0) return false;  // a fourth decimal
            fraction += (*at - '0') * scale;
        }
    }
    *value = whole * 1000 + fraction;
    *text = at;
    return true;
}

// Reads a per cent from 0 to 100 at `*text`, its sign optional.
bool ReadPercent(const char **text, int64_t *value) {
    if (!ReadThousandths(text, value) || *value > 100000) return false;
    if (**text == '%') ++*text;
    return true;
}

}  // namespace

bool ParseThresholds(const char *text, CheckThresholds *thresholds) {
    CheckThresholds read;
    const char *at = text;
    if (!ReadThousandths(&at, &read.rttThousandths) || *at++ != ',' ||
        !ReadPercent(&at, &read.lossThousandths)) {
        return false;
    }
    if (*at == ',') {
        ++at;
        if (!ReadPercent(&at, &read.availabilityThousandths)) return false;
        read.hasAvailability = true;
    }
    if (*at != '\0') return false;
    read.given = true;
    *thresholds = read;
    return true;
}

void FormatThousandths(int64_t thousandths, char *out, size_t size) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(thousandths / 1000),
                  static_cast<long long>(thousandths % 1000));
    size_t end = std::strlen(text);
    while (text[end - 1] == '0') --end;
    if (text[end - 1] == '.') --end;
    text[end] = '\0';
    std::snprintf(out, size, "%s", text);
}
