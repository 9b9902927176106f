#pragma once
#include <string>

namespace halyard {

// A day fraction as the time of day it stands for, rounded to the millisecond; whole
// days are dropped (25 hours show as 1:00:00). Hours have no leading zero.
std::string FormatTimeOfDay(double days, bool withMilliseconds);

// "h:mm:ss.zzz" and "h:mm:ss".
inline std::string FormatHmsZzz(double days) { return FormatTimeOfDay(days, true); }
inline std::string FormatHms(double days) { return FormatTimeOfDay(days, false); }

} // namespace halyard
