#pragma once
#include <cstdint>
#include <string>

namespace halyard {

// Number texts of the log lines, in one place.

// Decimal without separators.
std::string Dec(int64_t value);
// Upper-case hexadecimal with at least `digits` digits.
std::string Hex(uint64_t value, int digits);
// Up to 15 significant digits, no trailing zeros, the given decimal separator.
std::string Fraction(double value, char decimalSeparator = '.');
// Rounded to the nearest thousandth, then as Fraction.
std::string Thousandths(double value, char decimalSeparator = '.');

} // namespace halyard
