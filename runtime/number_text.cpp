// Number text rules: the process-wide decimal separator, text to integer, text to real, and the
// rounding of a real to a whole number. Real to text lives in format_real.cpp.
#include "runtime/number_text.h"

#include <atomic>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/fp.h"
#include "runtime/power_of_ten.h"
#include "runtime/system.h"

namespace kavrimo {
namespace {

// '\0' until the first use reads the locale.
std::atomic<char> decimal_separator{'\0'};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void RaiseInvalidInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void RaiseInvalidReal(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

// Masks every floating-point trap and clears the flags for the life of the guard, then puts the
// caller's environment back, so nothing raised inside leaks out.
class FloatEnvironmentHold {
 public:
  FloatEnvironmentHold() { std::feholdexcept(&saved_); }
  ~FloatEnvironmentHold() { std::fesetenv(&saved_); }
  FloatEnvironmentHold(const FloatEnvironmentHold&) = delete;
  FloatEnvironmentHold& operator=(const FloatEnvironmentHold&) = delete;

 private:
  std::fenv_t saved_{};
};

}  // namespace

char LocaleDecimalSeparator() { return UserLocaleDecimalSeparator(); }

char DecimalSeparator() {
  char separator = decimal_separator.load();
  if (separator != '\0') return separator;
  char expected = '\0';
  decimal_separator.compare_exchange_strong(expected, UserLocaleDecimalSeparator());
  return decimal_separator.load();
}

void SetDecimalSeparator(char separator) { decimal_separator.store(separator); }

std::int32_t ParseInteger(std::string_view text) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size && text[i] == ' ') ++i;
  if (i == size) RaiseInvalidInteger(text);

  bool negative = false;
  bool hexadecimal = false;
  const char first = text[i];
  if (first == '-' || first == '+') {
    negative = first == '-';
    ++i;
  } else if (first == '$' || first == 'x' || first == 'X') {
    hexadecimal = true;
    ++i;
  } else if (first == '0' && i + 1 < size && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hexadecimal = true;
    i += 2;
  }
  if (i == size) RaiseInvalidInteger(text);  // a sign or prefix without digits

  std::int64_t value = 0;
  if (hexadecimal) {
    for (; i < size; ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0 || value > 0x0FFFFFFF) RaiseInvalidInteger(text);
      value = value * 16 + digit;
    }
    // The 32 bits as a signed integer: FFFFFFFF is -1.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  for (; i < size; ++i) {
    if (!IsDigit(text[i]) || value > 214748364) RaiseInvalidInteger(text);
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value > 2147483647 || value < -2147483648LL) RaiseInvalidInteger(text);
  return static_cast<std::int32_t>(value);
}

long double ParseReal(std::string_view text) { return ParseReal(text, DecimalSeparator()); }

long double ParseReal(std::string_view text, char separator) {
  const FloatEnvironmentHold hold;
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size && text[i] == ' ') ++i;

  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  long double value = 0.0L;
  std::int64_t fraction_digits = 0;
  bool mantissa = false;
  for (; i < size && IsDigit(text[i]); ++i) {
    value = value * 10.0L + static_cast<long double>(text[i] - '0');
    mantissa = true;
  }
  if (i < size && text[i] == separator) {
    mantissa = true;
    for (++i; i < size && IsDigit(text[i]); ++i) {
      value = value * 10.0L + static_cast<long double>(text[i] - '0');
      ++fraction_digits;
    }
  }
  if (!mantissa) RaiseInvalidReal(text);

  std::int64_t exponent = 0;
  if (i < size && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negative_exponent = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) {
      negative_exponent = text[i] == '-';
      ++i;
    }
    // Stops after the digit that takes the exponent to 500 or more; a digit left over fails below.
    for (; i < size && IsDigit(text[i]) && exponent < 500; ++i) exponent = exponent * 10 + (text[i] - '0');
    if (negative_exponent) exponent = -exponent;
  }

  while (i < size && text[i] == ' ') ++i;
  if (i != size) RaiseInvalidReal(text);

  value = ScaleByPowerOfTen(value, exponent - fraction_digits);
  if (negative) value = -value;
  // The digits are finite, so an infinity can only come from an overflow and a NaN from an invalid
  // operation; underflow to a denormal or zero is accepted.
  if (!std::isfinite(value)) RaiseInvalidReal(text);
  return value;
}

std::int64_t RoundHalfEven(long double value) {
  constexpr long double kTwo63 = 9223372036854775808.0L;
  // NaN fails both comparisons. Every value in range is below 2^63 in magnitude or exactly -2^63.
  if (!(value >= -kTwo63 && value < kTwo63)) fp::RaiseInvalidOp();
  long double whole = std::trunc(value);
  const long double fraction = value - whole;  // exact
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0.0L)) whole += 1.0L;
  if (fraction < -0.5L || (fraction == -0.5L && std::fmod(whole, 2.0L) != 0.0L)) whole -= 1.0L;
  // 2^63 - 0.5 rounds up to 2^63, which is out of range.
  if (!(whole < kTwo63)) fp::RaiseInvalidOp();
  return static_cast<std::int64_t>(whole);
}

std::string ShortestText(double value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace kavrimo
