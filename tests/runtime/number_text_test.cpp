// Number text rules: text to integer and real, real to text, half-even rounding, decimal separator.
#include "runtime/number_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <locale.h>
#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "runtime/errors.h"
#include "runtime/fp.h"

namespace kavrimo {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kTwo63 = 9223372036854775808.0L;
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr auto kFails = std::nullopt;

auto NotInteger(const std::string& text) {
  return ThrowsMessage<EConvertError>(StrEq("'" + text + "' is not a valid integer value"));
}
auto NotReal(const std::string& text) {
  return ThrowsMessage<EConvertError>(StrEq("'" + text + "' is not a valid floating point value"));
}

class NumberText : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator('.'); }
  void TearDown() override { SetDecimalSeparator('.'); }
};

// --- ParseInteger ------------------------------------------------------------------------------

// A text and its value, or kFails when the text fails, quoted whole in the message.
using IntegerCase = std::pair<std::string, std::optional<std::int32_t>>;

class ParseIntegerTest : public NumberText, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(ParseIntegerTest, ConvertsOrFailsWithWholeText) {
  const auto& [text, expected] = GetParam();
  SCOPED_TRACE("'" + text + "'");
  if (expected) {
    EXPECT_EQ(ParseInteger(text), *expected);
  } else {
    EXPECT_THAT([&] { return ParseInteger(text); }, NotInteger(text));
  }
}

const IntegerCase kIntegerCases[] = {
    // clang-format off
    {"  4000", 4000}, {"+12", 12}, {"-0", 0}, {"0", 0}, {"007", 7}, {"$1F", 31}, {"x1F", 31}, {"X1f", 31},
    {"0x1F", 31}, {"0X1f", 31}, {"2147483647", 2147483647}, {"-2147483648", kMin32},
    {"000000002147483647", 2147483647},
    // Eight hex digits are the 32 bits taken as signed; a leading zero is no digit of the eight.
    {"$FFFFFFFF", -1}, {"$80000000", kMin32}, {"$0FFFFFFFF", -1}, {"$100000000", kFails},
    // Out of range at the end, and by the limit checked before each digit (2^64 + 1 would wrap to 1).
    {"2147483648", kFails}, {"-2147483649", kFails}, {"21474836470", kFails}, {"18446744073709551617", kFails},
    // The message shows the spaces: three leading and one trailing.
    {"12 ", kFails}, {"   4000 ", kFails}, {"12.0", kFails}, {"1e3", kFails}, {"", kFails}, {"   ", kFails},
    {"\t12", kFails}, {"-$1F", kFails}, {"+$1F", kFails}, {"-", kFails}, {"0x", kFails}, {"$1G", kFails},
    // clang-format on
    {"+-1", kFails}};
INSTANTIATE_TEST_SUITE_P(Table, ParseIntegerTest, ::testing::ValuesIn(kIntegerCases));

// --- ParseReal ---------------------------------------------------------------------------------

using RealCase = std::pair<std::string, std::optional<long double>>;

class ParseRealTest : public NumberText, public ::testing::WithParamInterface<RealCase> {};

TEST_P(ParseRealTest, ConvertsOrFailsWithWholeText) {
  const auto& [text, expected] = GetParam();
  SCOPED_TRACE("'" + text.substr(0, 60) + "'");
  if (expected) {
    const long double value = ParseReal(text);
    EXPECT_EQ(value, *expected);
    EXPECT_EQ(std::signbit(value), std::signbit(*expected));
  } else {
    EXPECT_THAT([&] { return ParseReal(text); }, NotReal(text));
  }
}

const RealCase kRealCases[] = {
    // clang-format off
    {"  -12.5  ", -12.5L}, {"1e3", 1000.0L}, {"1E+3", 1000.0L}, {"25e-1", 2.5L}, {"+7", 7.0L},
    // An exponent letter without digits means 0; a separator alone makes a mantissa.
    {"1E", 1.0L}, {"1E+", 1.0L}, {".", 0.0L}, {"-.", -0.0L}, {"5.", 5.0L}, {".5", 0.5L},
    // Exponent digits are read until the exponent reaches 500; a digit left over fails.
    {"1E0500", 1e500L}, {"1E5000", kFails}, {"0E4999", 0.0L}, {"1e4932", 1e4932L}, {"2e4932", kFails},
    // Underflow is accepted (beyond 5120 fraction digits the division is by infinity); overflow is not.
    {"1E-4999", 0.0L}, {"0." + std::string(5200, '0') + "1", 0.0L}, {std::string(5000, '9'), kFails},
    {"0." + std::string(5000, '9'), kFails},
    {"1,5", kFails}, {"INF", kFails}, {"NAN", kFails}, {"", kFails}, {"   ", kFails}, {"-", kFails},
    {"E5", kFails}, {"\t1", kFails}, {"1\t", kFails}, {"1 5", kFails}, {"1 e3", kFails}, {"1..5", kFails},
    {"0x10", kFails}, {"--1", kFails}, {"1e3x", kFails}};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Table, ParseRealTest, ::testing::ValuesIn(kRealCases));

TEST_F(NumberText, ParseRealOf1E4000SucceedsButOverflowsSingle) {
  const long double value = ParseReal("1E4000");
  // Three rounded steps stay within a few units in the last place of the exact power.
  EXPECT_LT(std::fabs(value / std::strtold("1e4000", nullptr) - 1), 4 * LDBL_EPSILON);
  EXPECT_THAT([&] { return fp::ToSingle(value); }, ThrowsMessage<EOverflow>(StrEq("Floating point overflow")));
}

TEST_F(NumberText, ParseRealUnderflowsQuietlyAndLeavesTheCallersFloatingPointFlags) {
  std::feclearexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(std::fpclassify(ParseReal("1.5e-4940")), FP_SUBNORMAL);
  EXPECT_EQ(std::fpclassify(ParseReal("-1e-4940")), FP_SUBNORMAL);
  EXPECT_EQ(ParseReal("1e-4999"), 0.0L);
  EXPECT_THAT([] { return ParseReal("9e4999"); }, NotReal("9e4999"));
  EXPECT_EQ(std::fetestexcept(FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID), 0);
}

// Integers below 10^19 are accumulated exactly, and 10^n for |n| <= 27 is exact, so one multiply or
// divide rounds once: the result must be the correctly rounded value the C library gives.
TEST_F(NumberText, ParseRealMatchesCorrectRoundingWhenOneStepIsExact) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 50000; ++i) {
    const int digit_count = 1 + static_cast<int>(random() % 19);
    std::string text;
    for (int j = 0; j < digit_count; ++j) text += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % (digit_count + 1));
    // The scaling power n = exponent - fraction digits lies in [-27, 27].
    const int exponent = static_cast<int>(random() % 55) - 27 + digit_count - point;
    text.insert(static_cast<std::size_t>(point), ".");
    if (random() % 2) text.insert(0, "-");
    if (exponent != 0 || random() % 2) text += "e" + std::to_string(exponent);
    ASSERT_EQ(ParseReal(text), std::strtold(text.c_str(), nullptr)) << text;
  }
}

// A power that takes a single scaling step is the correctly rounded constant itself; four-digit
// exponents whose first three digits are below 500 are read whole.
TEST_F(NumberText, ParseRealOfSingleStepPowersIsCorrectlyRounded) {
  for (int n = 0; n < 5120; n += n < 32 ? 1 : n < 512 ? 32 : 512) {
    const std::string text = "1e" + std::to_string(n);
    EXPECT_EQ(ParseReal(text), std::strtold(text.c_str(), nullptr)) << text;
  }
}

// Beyond the exact range the three rounded steps stay within a few units in the last place.
TEST_F(NumberText, ParseRealStaysCloseToCorrectRoundingOverTheWholeRange) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::string mantissa = std::to_string(random() % 10000000000000000000ULL);
    const std::string text = mantissa + "e" + std::to_string(static_cast<int>(random() % 9800) - 4900);
    const long double expected = std::strtold(text.c_str(), nullptr);
    if (!std::isnormal(expected)) continue;
    ASSERT_LE(std::fabs(ParseReal(text) - expected) / expected, 4 * LDBL_EPSILON) << text;
  }
}

// --- FormatReal --------------------------------------------------------------------------------

using FormatCase = std::pair<long double, std::string>;

class FormatRealTest : public NumberText, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatRealTest, Writes) {
  SCOPED_TRACE(GetParam().second);
  EXPECT_EQ(FormatReal(GetParam().first), GetParam().second);
}

const FormatCase kFormatCases[] = {
    // Singles widened exactly, as the status line receives them.
    // clang-format off
    {253.0f, "253"}, {2.5f, "2.5"}, {-9999.0f, "-9999"}, {0.1f, "0.100000001490116"},
    {1234.5678f, "1234.56774902344"}, {0.00012f, "0.000119999996968545"}, {1.5e-5f, "1.49999996210681E-5"},
    {1e16f, "1.00000002725642E16"}, {FLT_MAX, "3.40282346638529E38"},
    // Extended values: the layout limits, and zero and denormals as "0".
    {0.0L, "0"}, {-0.0L, "0"}, {1e15L, "1E15"}, {999999999999999.0L, "999999999999999"}, {100.0L, "100"},
    {0.0001L, "0.0001"}, {0.00001L, "1E-5"}, {9999999999999994.0L, "9.99999999999999E15"},
    {LDBL_MAX, "1.18973149535723E4932"}, {LDBL_MIN, "3.36210314311209E-4932"}, {LDBL_MIN / 4, "0"},
    {kInf, "INF"}, {-kInf, "-INF"}, {kNaN, "NAN"}, {-kNaN, "NAN"},
    // clang-format on
    // d16 decides; it is taken after rounding to 18 digits, and a carry out of d1 raises the exponent.
    {1.000000000000004L, "1"},
    {1.000000000000005L, "1.00000000000001"},
    {1.000000000000004997L, "1.00000000000001"},
    {999999999999999.5L, "1E15"}};
INSTANTIATE_TEST_SUITE_P(Table, FormatRealTest, ::testing::ValuesIn(kFormatCases));

TEST_F(NumberText, FormatRealAndParseRealUseTheDecimalSeparator) {
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatReal(2.5f), "2,5");
  EXPECT_EQ(FormatReal(0.1f), "0,100000001490116");
  EXPECT_EQ(FormatReal(1.5e-5f), "1,49999996210681E-5");
  EXPECT_EQ(FormatReal(-9999.0f), "-9999");
  EXPECT_EQ(ParseReal(" 1,5 "), 1.5L);
  EXPECT_THAT([] { return ParseReal("1.5"); }, NotReal("1.5"));
  EXPECT_EQ(ParseReal("1.5", '.'), 1.5L);  // a separator given reads with it and sets nothing
  EXPECT_EQ(DecimalSeparator(), ',');
}

// FormatReal's text for a value whose magnitude is 0.d1d2… × 10^d, the first 15 digits rounded up or
// not, laid out as documented: 1 <= d <= 15 fixed, -3 <= d <= 0 with leading zeros, else scientific.
std::string ExpectedText(bool negative, const std::string& digits, int d, bool up) {
  std::string kept = std::to_string(std::stoull(digits.substr(0, 15)) + (up ? 1 : 0));
  if (kept.size() > 15) ++d;  // 999…9 carried to 1000…0
  kept.erase(kept.find_last_not_of('0') + 1);
  const std::string sign = negative ? "-" : "";
  if (d > 15 || d < -3) {
    return sign + kept[0] + (kept.size() > 1 ? "." + kept.substr(1) : "") + "E" + std::to_string(d - 1);
  }
  if (d <= 0) return sign + "0." + std::string(static_cast<std::size_t>(-d), '0') + kept;
  const auto whole = static_cast<std::size_t>(d);
  if (kept.size() < whole) kept.resize(whole, '0');
  return sign + kept.substr(0, whole) + (kept.size() > whole ? "." + kept.substr(whole) : "");
}

// Checks FormatReal against the exact decimal expansion from the C library: the 16th to 18th digits,
// with the rest as a fraction, round the kept digits up from 499.5. The format scales with rounded
// arithmetic, so within tolerance units of that boundary either outcome is right.
void CheckAgainstExactDecimal(long double value, long double tolerance, int& ambiguous) {
  char exact[128];
  std::snprintf(exact, sizeof exact, "%.39Le", std::fabs(value));  // d.ddd…e±x, 40 digits
  const std::string digits = exact[0] + std::string(exact + 2, 39);
  const int d = std::atoi(std::strchr(exact, 'e') + 1) + 1;
  const long double tail = std::strtold((digits.substr(15, 3) + "." + digits.substr(18)).c_str(), nullptr);
  const std::string text = FormatReal(value);
  if (std::fabs(tail - 499.5L) <= tolerance) {
    ++ambiguous;
    if (text == ExpectedText(std::signbit(value), digits, d, tail < 499.5L)) return;
  }
  ASSERT_EQ(text, ExpectedText(std::signbit(value), digits, d, tail >= 499.5L));
}

TEST_F(NumberText, FormatRealOfRandomValuesMatchesTheExactDecimalExpansion) {
  std::mt19937_64 random(12345);
  int ambiguous = 0;
  const int count = 40000;
  for (int i = 0; i < count; ++i) {
    long double value = 0;
    if (i % 2 == 0) {
      // Any finite nonzero single: at most two scaling steps, a few eighths of a unit in the 18th digit.
      const auto single = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
      if (!std::isfinite(single) || single == 0) continue;
      value = single;
    } else {
      // Any normal extended: explicit integer bit, random fraction, exponent field and sign.
      const std::uint64_t parts[2] = {random() | 1ULL << 63, (1 + random() % 32766) | (random() % 2) << 15};
      std::memcpy(&value, parts, 10);
    }
    ASSERT_NO_FATAL_FAILURE(CheckAgainstExactDecimal(value, i % 2 == 0 ? 0.25L : 1.0L, ambiguous));
  }
  EXPECT_LT(ambiguous, count / 100);
}

// --- RoundHalfEven -----------------------------------------------------------------------------

struct RoundCase {
  const char* name;
  long double value;
  std::optional<std::int64_t> expected;  // kFails: EInvalidOp
};
void PrintTo(const RoundCase& c, std::ostream* os) { *os << c.name; }

class RoundHalfEvenTest : public NumberText, public ::testing::WithParamInterface<RoundCase> {};

TEST_P(RoundHalfEvenTest, RoundsOrRaises) {
  const RoundCase& c = GetParam();
  SCOPED_TRACE(c.name);
  if (c.expected) {
    EXPECT_EQ(RoundHalfEven(c.value), *c.expected);
  } else {
    EXPECT_THAT([&] { return RoundHalfEven(c.value); },
                ThrowsMessage<EInvalidOp>(StrEq("Invalid floating point operation")));
  }
}

// clang-format off
const RoundCase kRoundCases[] = {
    {"0.5", 0.5L, 0}, {"1.5", 1.5L, 2}, {"2.5", 2.5L, 2}, {"252.5", 252.5L, 252}, {"253.5", 253.5L, 254},
    {"-0.5", -0.5L, 0}, {"-1.5", -1.5L, -2}, {"-2.5", -2.5L, -2}, {"2.7", 2.7L, 3}, {"-2.7", -2.7L, -3},
    {"just below a half", 0.5L - LDBL_EPSILON / 4, 0}, {"just above a half", 0.5L + LDBL_EPSILON / 2, 1},
    {"beyond double precision", 4503599627370497.5L, 4503599627370498}, {"2^63 - 1", kTwo63 - 1, INT64_MAX},
    {"-2^63", -kTwo63, INT64_MIN}, {"2^63 - 0.5 rounds out of range", kTwo63 - 0.5L, kFails}, {"2^63", kTwo63, kFails},
    {"-2^63 - 1", -kTwo63 - 1, kFails}, {"1e19", 1e19L, kFails}, {"NaN", kNaN, kFails}, {"infinity", kInf, kFails},
    {"negative infinity", -kInf, kFails}};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Table, RoundHalfEvenTest, ::testing::ValuesIn(kRoundCases));

// --- Decimal separator of the locale -----------------------------------------------------------

// LocaleDecimalSeparator() with LC_ALL set to lc_all for the call.
char LocaleSeparatorUnder(const char* lc_all) {
  const char* old = std::getenv("LC_ALL");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("LC_ALL", lc_all, 1);
  const char separator = LocaleDecimalSeparator();
  saved ? setenv("LC_ALL", saved->c_str(), 1) : unsetenv("LC_ALL");
  return separator;
}

TEST(LocaleDecimalSeparator, IsTheCommaOfACommaLocale) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8", "de_DE"}) {
    const locale_t locale = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) continue;
    freelocale(locale);
    EXPECT_EQ(LocaleSeparatorUnder(name), ',') << name;
    return;
  }
  GTEST_SKIP() << "no locale with a comma decimal separator is installed";
}

TEST(LocaleDecimalSeparator, IsTheFullStopOfTheCLocaleAndOfAnUnknownOne) {
  EXPECT_EQ(LocaleSeparatorUnder("C"), '.');
  EXPECT_EQ(LocaleSeparatorUnder("xx_NOWHERE.UTF-8"), '.');
}

}  // namespace
}  // namespace kavrimo
