#include "engine/TimeFormat.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace halyard {

std::string FormatTimeOfDay(double days, bool withMilliseconds) {
    constexpr int64_t MillisecondsPerDay = 86400000;
    double ms = std::round(days * double(MillisecondsPerDay));
    if (!std::isfinite(ms))
        ms = 0;
    int64_t total = static_cast<int64_t>(std::fmod(ms, double(MillisecondsPerDay)));
    if (total < 0)
        total += MillisecondsPerDay;
    int64_t hours = total / 3600000;
    int64_t minutes = total / 60000 % 60;
    int64_t seconds = total / 1000 % 60;
    int64_t millis = total % 1000;
    char text[32];
    if (withMilliseconds)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", (long long)hours, (long long)minutes,
                      (long long)seconds, (long long)millis);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)hours, (long long)minutes,
                      (long long)seconds);
    return text;
}

} // namespace halyard
