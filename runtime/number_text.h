// Number text rules: text to integer and to real, real to text, real to integer.
//
// Exact to the last digit: reals are 80-bit extended (long double on x86-64), rounded to nearest even.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavrimo {

// The process-wide decimal separator used by ParseReal and FormatReal. At start it is the decimal
// separator of the user's locale (LC_ALL / LC_NUMERIC / LANG); the front ends force "." when they
// convert.
char DecimalSeparator();
void SetDecimalSeparator(char separator);
// The decimal separator of the user's locale, "." when it cannot be found.
char LocaleDecimalSeparator();

// Decimal or hexadecimal ("$", "x", "X", "0x", "0X") 32-bit integer after leading spaces. Raises
// EConvertError "'<text>' is not a valid integer value".
std::int32_t ParseInteger(std::string_view text);
// Real with optional sign, fraction (decimal separator) and exponent, spaces allowed around it.
// Tiny values underflow quietly to a denormal or zero. Raises EConvertError "'<text>' is not a valid
// floating point value" for a malformed text or one beyond the 80-bit range. Leaves the caller's
// floating-point flags as they were. The first reads with the process-wide separator; the second with
// the one given, changing nothing of the process.
long double ParseReal(std::string_view text);
long double ParseReal(std::string_view text, char separator);
// General format with 15 significant digits: "253", "0.100000001490116", "1.49999996210681E-5";
// "0" for zero and denormals, "INF", "-INF", "NAN". Raises nothing.
std::string FormatReal(long double value);
// The shortest text that reads back as the same double ("0.1", "39.5", "1e-05"), for machine-readable
// output; not governed by the decimal separator.
std::string ShortestText(double value);
// Nearest 64-bit integer, ties to even. Raises EInvalidOp for a NaN or a value outside the range.
std::int64_t RoundHalfEven(long double value);

}  // namespace kavrimo
