#include "analysers/NumberFormat.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace halyard {

std::string Dec(int64_t value) {
    return std::to_string(value);
}

std::string Hex(uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string Fraction(double value, char decimalSeparator) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    char text[64];
    std::snprintf(text, sizeof text, "%.15G", value);
    std::string result = text;
    // %G drops trailing zeros; exponent forms only come for very large or small values.
    for (char& c : result)
        if (c == '.')
            c = decimalSeparator;
    return result;
}

std::string Thousandths(double value, char decimalSeparator) {
    return Fraction(std::round(value * 1000.0) / 1000.0, decimalSeparator);
}

} // namespace halyard
