// Correctly rounded 80-bit powers of ten and the three-step decimal scaling built on them.
#include "runtime/power_of_ten.h"

#include <array>
#include <cstdlib>
#include <limits>
#include <string>

namespace kavrimo {
namespace {

struct PowerTables {
  std::array<long double, 32> units{};         // 10^0 .. 10^31
  std::array<long double, 16> thirty_twos{};   // 10^0, 10^32 .. 10^480
  std::array<long double, 10> five_twelves{};  // 10^0, 10^512 .. 10^4608
};

// The C library reads "1eN" correctly rounded to nearest even, which gives the exact value up to
// 10^27 and the nearest 80-bit value beyond.
long double PowerOfTen(int exponent) {
  const std::string text = "1e" + std::to_string(exponent);
  return std::strtold(text.c_str(), nullptr);
}

PowerTables BuildTables() {
  PowerTables tables;
  for (int i = 0; i < 32; ++i) tables.units[i] = PowerOfTen(i);
  for (int i = 0; i < 16; ++i) tables.thirty_twos[i] = PowerOfTen(32 * i);
  for (int i = 0; i < 10; ++i) tables.five_twelves[i] = PowerOfTen(512 * i);
  return tables;
}

const PowerTables& Tables() {
  static const PowerTables tables = BuildTables();
  return tables;
}

}  // namespace

long double ScaleByPowerOfTen(long double value, std::int64_t n) {
  const bool multiply = n >= 0;
  // The magnitude of n, safe for the most negative int64.
  const std::uint64_t m = multiply ? static_cast<std::uint64_t>(n) : 0 - static_cast<std::uint64_t>(n);
  if (m >= 5120) {
    const long double infinity = std::numeric_limits<long double>::infinity();
    return multiply ? value * infinity : value / infinity;
  }
  const PowerTables& tables = Tables();
  const long double steps[3] = {tables.units[m % 32], tables.thirty_twos[(m / 32) % 16], tables.five_twelves[m / 512]};
  for (const long double power : steps) {
    if (power == 1.0L) continue;
    value = multiply ? value * power : value / power;
  }
  return value;
}

}  // namespace kavrimo
