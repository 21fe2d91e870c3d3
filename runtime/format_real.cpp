// Real to text: the general format with 15 significant digits ("253", "0.100000001490116",
// "1.49999996210681E-5").
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/number_text.h"
#include "runtime/power_of_ten.h"

namespace kavrimo {
namespace {

constexpr std::uint64_t kTenTo15 = 1000000000000000ULL;
constexpr std::uint64_t kTenTo17 = 100000000000000000ULL;
constexpr std::uint64_t kTenTo18 = 1000000000000000000ULL;

// The 15-bit biased exponent of an x87 80-bit real (bytes 8 and 9, sign bit cleared).
unsigned BinaryExponentField(long double value) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &value, sizeof bytes);
  return (static_cast<unsigned>(bytes[9] & 0x7F) << 8) | bytes[8];
}

// Nearest integer, ties to even, for 0 <= value < 2^63, independent of the rounding mode.
std::uint64_t RoundToEvenInteger(long double value) {
  std::uint64_t whole = static_cast<std::uint64_t>(value);
  const long double fraction = value - static_cast<long double>(whole);  // exact
  if (fraction > 0.5L || (fraction == 0.5L && whole % 2 != 0)) ++whole;
  return whole;
}

// Scales the positive finite magnitude to [10^17, 10^18] and rounds it to an integer, giving the 18
// leading digits and the decimal exponent D with magnitude = 0.d1…d18 × 10^D.
std::uint64_t EighteenDigits(long double magnitude, int& decimal_exponent) {
  int binary_exponent = 0;
  std::frexp(magnitude, &binary_exponent);  // 2^(e-1) <= magnitude < 2^e
  // log10(magnitude) >= (e-1) log10(2), so this is D or one less.
  int d = static_cast<int>(std::floor((binary_exponent - 1) * 0.30102999566398119521)) + 1;
  long double scaled = ScaleByPowerOfTen(magnitude, 18 - d);
  // Rounding in the scaling can leave the estimate one off either way; re-scale from the value.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (scaled < static_cast<long double>(kTenTo17)) {
      --d;
    } else if (scaled > static_cast<long double>(kTenTo18)) {
      ++d;
    } else {
      break;
    }
    scaled = ScaleByPowerOfTen(magnitude, 18 - d);
  }
  std::uint64_t digits = RoundToEvenInteger(scaled);
  if (digits >= kTenTo18) {
    const std::uint64_t remainder = digits % 10;
    digits /= 10;
    if (remainder > 5 || (remainder == 5 && digits % 2 != 0)) ++digits;
    ++d;
  }
  decimal_exponent = d;
  return digits;
}

}  // namespace

std::string FormatReal(long double value) {
  if (BinaryExponentField(value) == 0) return "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";

  int d = 0;
  const std::uint64_t eighteen = EighteenDigits(std::fabs(value), d);
  std::uint64_t kept = eighteen / 1000;
  if ((eighteen / 100) % 10 >= 5) ++kept;
  if (kept == kTenTo15) {  // 999999999999999|5 carries into a sixteenth digit
    kept /= 10;
    ++d;
  }
  std::string digits = std::to_string(kept);
  digits.erase(digits.find_last_not_of('0') + 1);

  const char separator = DecimalSeparator();
  std::string text = std::signbit(value) ? "-" : "";
  if (d > 15 || d < -3) {
    text += digits[0];
    if (digits.size() > 1) {
      text += separator;
      text.append(digits, 1);
    }
    text += 'E';
    text += std::to_string(d - 1);
  } else if (d <= 0) {
    text += '0';
    text += separator;
    text.append(static_cast<std::size_t>(-d), '0');
    text += digits;
  } else {
    const auto whole = static_cast<std::size_t>(d);
    if (digits.size() <= whole) {
      text += digits;
      text.append(whole - digits.size(), '0');
    } else {
      text.append(digits, 0, whole);
      text += separator;
      text.append(digits, whole);
    }
  }
  return text;
}

}  // namespace kavrimo
