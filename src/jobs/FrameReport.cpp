// The frame count report at the end of Read EVO and Demux.
#include <cfenv>
#include <cmath>
#include <cstdio>

#include "analysers/NumberFormat.h"
#include "engine/TimeFormat.h"
#include "jobs/Jobs.h"

namespace halyard {

namespace {
constexpr double SecondsPerDay = 86400.0;

// Nearest integer, halves to the even neighbour, as a decimal integer.
std::string RoundedHalfEven(double value) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", rounded);
    return text;
}

// "h:mm:ss:zzzz": the milliseconds after a colon, still three digits.
std::string WithColonMilliseconds(double days) {
    std::string text = FormatHmsZzz(days);
    text[text.size() - 4] = ':';
    return text;
}
} // namespace

void Jobs::logframes(bool hasSecondFile) {
    for (int k = 0; k < 2; ++k) {
        const int32_t count = state_.PictureCounter[size_t(k)];
        const double rate = state_.SlotFrameRate[size_t(k)];
        const std::string stream = " video stream " + Dec(k) + ".";
        if (count > 0) {
            if (rate > 0)
                ui_.log(Dec(count) + " counted frames ([b]" + FormatHmsZzz(count / SecondsPerDay / rate) + "[/b]) in" +
                        stream);
            else
                ui_.log(Dec(count) + " frames count in" + stream);
        }
        if (rate > 0) {
            std::string line = RoundedHalfEven(state_.TotalDuration * rate) + " calculated frames";
            if (hasSecondFile)
                line += " ([b]" + WithColonMilliseconds(state_.TotalDuration / SecondsPerDay) + "[/b])";
            ui_.log(line + " in" + stream);
        }
    }
    if (int64_t(state_.PictureCounter[0]) + state_.PictureCounter[1] > 0)
        ui_.log("");
}

} // namespace halyard
