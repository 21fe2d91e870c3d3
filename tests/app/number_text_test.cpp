// Number text rules: text to integer and real, real to text, half-even rounding, decimal separator.
#include "app/core/number_text.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/fp.h"

namespace kavrimo {
namespace {

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();

class NumberText : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator('.'); }
  void TearDown() override { SetDecimalSeparator('.'); }
};

// --- ParseInteger ------------------------------------------------------------------------------

struct IntegerCase {
  const char* name;
  std::string text;
  std::optional<std::int32_t> expected;  // nullopt: the text must fail
};

class ParseIntegerTest : public NumberText, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(ParseIntegerTest, ConvertsOrFailsWithWholeText) {
  const IntegerCase& c = GetParam();
  SCOPED_TRACE(c.name);
  if (c.expected) {
    EXPECT_EQ(ParseInteger(c.text), *c.expected);
    return;
  }
  try {
    ParseInteger(c.text);
    ADD_FAILURE() << "no error for '" << c.text << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'" + c.text + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseIntegerTest,
    ::testing::Values(
        IntegerCase{"leading spaces", "  4000", 4000}, IntegerCase{"plus sign", "+12", 12},
        IntegerCase{"minus zero", "-0", 0}, IntegerCase{"zero", "0", 0}, IntegerCase{"leading zeros", "007", 7},
        IntegerCase{"dollar hex", "$1F", 31}, IntegerCase{"x hex", "x1F", 31}, IntegerCase{"X hex", "X1f", 31},
        IntegerCase{"0x hex", "0x1F", 31}, IntegerCase{"0X hex", "0X1f", 31},
        IntegerCase{"eight hex digits are signed", "$FFFFFFFF", -1},
        IntegerCase{"hex sign bit", "$80000000", std::numeric_limits<std::int32_t>::min()},
        IntegerCase{"leading hex zero does not count", "$0FFFFFFFF", -1},
        IntegerCase{"nine hex digits", "$100000000", std::nullopt},
        IntegerCase{"sign then hex", "-$1F", std::nullopt}, IntegerCase{"sign then 0x", "-0x1F", std::nullopt},
        IntegerCase{"plus then hex", "+$1F", std::nullopt},
        IntegerCase{"largest", "2147483647", 2147483647},
        IntegerCase{"largest with zeros", "000000002147483647", 2147483647},
        IntegerCase{"one past largest", "2147483648", std::nullopt},
        IntegerCase{"ten digits past", "21474836470", std::nullopt},
        IntegerCase{"smallest", "-2147483648", std::numeric_limits<std::int32_t>::min()},
        IntegerCase{"one below smallest", "-2147483649", std::nullopt},
        IntegerCase{"trailing space", "12 ", std::nullopt},
        IntegerCase{"spaces both sides", "   4000 ", std::nullopt},
        IntegerCase{"inner space", "1 2", std::nullopt}, IntegerCase{"decimal point", "12.0", std::nullopt},
        IntegerCase{"exponent", "1e3", std::nullopt}, IntegerCase{"empty", "", std::nullopt},
        IntegerCase{"spaces only", "   ", std::nullopt}, IntegerCase{"leading tab", "\t12", std::nullopt},
        IntegerCase{"lone minus", "-", std::nullopt}, IntegerCase{"lone plus", "+", std::nullopt},
        IntegerCase{"lone dollar", "$", std::nullopt}, IntegerCase{"lone 0x", "0x", std::nullopt},
        IntegerCase{"two signs", "+-1", std::nullopt}, IntegerCase{"bad hex digit", "$1G", std::nullopt},
        IntegerCase{"space after sign", "- 1", std::nullopt}));

// --- ParseReal ---------------------------------------------------------------------------------

struct RealCase {
  const char* name;
  std::string text;
  std::optional<long double> expected;  // nullopt: the text must fail
};

class ParseRealTest : public NumberText, public ::testing::WithParamInterface<RealCase> {};

void ExpectParsesTo(const std::string& text, long double expected) {
  const long double value = ParseReal(text);
  EXPECT_EQ(value, expected) << text;
  EXPECT_EQ(std::signbit(value), std::signbit(expected)) << text;
}

void ExpectRealFails(const std::string& text) {
  try {
    ParseReal(text);
    ADD_FAILURE() << "no error for '" << text << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'" + text + "' is not a valid floating point value");
  }
}

TEST_P(ParseRealTest, ConvertsOrFailsWithWholeText) {
  const RealCase& c = GetParam();
  SCOPED_TRACE(c.name);
  if (c.expected) {
    ExpectParsesTo(c.text, *c.expected);
  } else {
    ExpectRealFails(c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseRealTest,
    ::testing::Values(
        RealCase{"spaces around", "  -12.5  ", -12.5L}, RealCase{"exponent", "1e3", 1000.0L},
        RealCase{"signed exponent", "1E+3", 1000.0L}, RealCase{"negative exponent", "25e-1", 2.5L},
        RealCase{"E without digits", "1E", 1.0L}, RealCase{"E and sign without digits", "1E+", 1.0L},
        RealCase{"lone separator", ".", 0.0L}, RealCase{"minus separator", "-.", -0.0L},
        RealCase{"trailing separator", "5.", 5.0L}, RealCase{"leading separator", ".5", 0.5L},
        RealCase{"plus", "+7", 7.0L}, RealCase{"integer", "30", 30.0L},
        RealCase{"one thousandth", "0.001", 0.001L}, RealCase{"tenth", "0.1", 0.1L},
        RealCase{"exponent digits stop at 500", "1E0500", 1e500L},
        RealCase{"zero with big exponent", "0E4999", 0.0L},
        RealCase{"near the largest", "1e4932", 1e4932L},
        RealCase{"underflow to zero is accepted", "1E-4999", 0.0L},
        RealCase{"comma", "1,5", std::nullopt}, RealCase{"exponent digit left over", "1E5000", std::nullopt},
        RealCase{"overflow", "2e4932", std::nullopt}, RealCase{"INF", "INF", std::nullopt},
        RealCase{"NAN", "NAN", std::nullopt}, RealCase{"empty", "", std::nullopt},
        RealCase{"spaces only", "   ", std::nullopt}, RealCase{"lone sign", "-", std::nullopt},
        RealCase{"exponent alone", "E5", std::nullopt}, RealCase{"leading tab", "\t1", std::nullopt},
        RealCase{"trailing tab", "1\t", std::nullopt}, RealCase{"space in number", "1 5", std::nullopt},
        RealCase{"space before exponent", "1 e3", std::nullopt}, RealCase{"two separators", "1..5", std::nullopt},
        RealCase{"hexadecimal", "0x10", std::nullopt}, RealCase{"two signs", "--1", std::nullopt},
        RealCase{"letter after exponent", "1e3x", std::nullopt}));

TEST_F(NumberText, ParseRealOfHugeExponentSucceedsButOverflowsSingle) {
  const long double value = ParseReal("1E4000");
  ASSERT_TRUE(std::isfinite(value));
  // Three rounded steps stay within a few units in the last place of the exact power.
  const long double exact = std::strtold("1e4000", nullptr);
  EXPECT_LT(std::fabs(value - exact) / exact, 4 * LDBL_EPSILON);
  try {
    fp::ToSingle(value);
    ADD_FAILURE() << "no overflow";
  } catch (const EOverflow& e) {
    EXPECT_EQ(e.Message(), "Floating point overflow");
  }
}

TEST_F(NumberText, ParseRealOfTinyValuesUnderflowsQuietly) {
  EXPECT_EQ(std::fpclassify(ParseReal("1.5e-4940")), FP_SUBNORMAL);
  EXPECT_EQ(std::fpclassify(ParseReal("-1e-4940")), FP_SUBNORMAL);
  // More than 5120 fraction digits: the division by infinity gives zero.
  EXPECT_EQ(ParseReal("0." + std::string(5200, '0') + "1"), 0.0L);
}

TEST_F(NumberText, ParseRealFailsWhenTheDigitsOverflow) {
  ExpectRealFails(std::string(5000, '9'));
  ExpectRealFails("0." + std::string(5000, '9'));
}

TEST_F(NumberText, ParseRealLeavesTheCallersFloatingPointFlags) {
  std::feclearexcept(FE_ALL_EXCEPT);
  ExpectRealFails("9e4999");
  EXPECT_EQ(ParseReal("1e-4999"), 0.0L);
  EXPECT_EQ(std::fetestexcept(FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID), 0);
}

// Integers below 10^19 are accumulated exactly, and 10^n for |n| <= 27 is exact, so one multiply or
// divide rounds once: the result must be the correctly rounded value the C library gives.
TEST_F(NumberText, ParseRealMatchesCorrectRoundingWhenOneStepIsExact) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 200000; ++i) {
    const int digit_count = 1 + static_cast<int>(random() % 19);
    std::string digits;
    for (int j = 0; j < digit_count; ++j) digits += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % (digit_count + 1));
    const int fraction_digits = digit_count - point;
    const int n = static_cast<int>(random() % 55) - 27;  // the scaling power
    const int exponent = n + fraction_digits;
    std::string text = digits.substr(0, point) + "." + digits.substr(point);
    if (random() % 2) text = "-" + text;
    if (exponent != 0 || random() % 2) text += "e" + std::to_string(exponent);
    const long double expected = std::strtold(text.c_str(), nullptr);
    ASSERT_EQ(ParseReal(text), expected) << text;
  }
}

// A power that takes a single scaling step is the correctly rounded constant itself.
TEST_F(NumberText, ParseRealOfSingleStepPowersIsCorrectlyRounded) {
  std::vector<int> exponents;
  for (int n = 0; n < 32; ++n) exponents.push_back(n);
  for (int n = 32; n < 512; n += 32) exponents.push_back(n);
  // Four-digit exponents whose first three digits are below 500 are read whole.
  for (int n = 512; n < 5120; n += 512) exponents.push_back(n);
  for (const int exponent : exponents) {
    const std::string text = "1e" + std::to_string(exponent);
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseReal(text), std::strtold(text.c_str(), nullptr));
  }
}

// Beyond the exact range the three rounded steps stay within a few units in the last place.
TEST_F(NumberText, ParseRealStaysCloseToCorrectRoundingOverTheWholeRange) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 50000; ++i) {
    const std::uint64_t mantissa = random() % 10000000000000000000ULL;
    const int exponent = static_cast<int>(random() % 9800) - 4900;
    const std::string text = std::to_string(mantissa) + "e" + std::to_string(exponent);
    const long double expected = std::strtold(text.c_str(), nullptr);
    if (expected == 0 || !std::isnormal(expected)) continue;
    const long double value = ParseReal(text);
    ASSERT_LE(std::fabs(value - expected) / expected, 4 * LDBL_EPSILON) << text;
  }
}

// --- FormatReal --------------------------------------------------------------------------------

struct FormatCase {
  const char* name;
  long double value;
  std::string expected;
};

class FormatRealTest : public NumberText, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatRealTest, Writes) {
  const FormatCase& c = GetParam();
  SCOPED_TRACE(c.name);
  EXPECT_EQ(FormatReal(c.value), c.expected);
}

long double Widened(float value) { return value; }

INSTANTIATE_TEST_SUITE_P(
    Singles, FormatRealTest,
    ::testing::Values(FormatCase{"253", Widened(253.0f), "253"}, FormatCase{"2.5", Widened(2.5f), "2.5"},
                      FormatCase{"-9999", Widened(-9999.0f), "-9999"},
                      FormatCase{"0.1", Widened(0.1f), "0.100000001490116"},
                      FormatCase{"1234.5678", Widened(1234.5678f), "1234.56774902344"},
                      FormatCase{"0.00012", Widened(0.00012f), "0.000119999996968545"},
                      FormatCase{"1.5e-5", Widened(1.5e-5f), "1.49999996210681E-5"},
                      FormatCase{"1e16", Widened(1e16f), "1.00000002725642E16"},
                      FormatCase{"largest single", Widened(FLT_MAX), "3.40282346638529E38"},
                      FormatCase{"smallest single denormal", Widened(1.4e-45f), "1.40129846432482E-45"}));

INSTANTIATE_TEST_SUITE_P(
    Extended, FormatRealTest,
    ::testing::Values(
        FormatCase{"zero", 0.0L, "0"}, FormatCase{"negative zero", -0.0L, "0"},
        FormatCase{"1e15", 1e15L, "1E15"}, FormatCase{"fifteen nines", 999999999999999.0L, "999999999999999"},
        FormatCase{"fifteen nines and a half carries", 999999999999999.5L, "1E15"},
        FormatCase{"sixteen digits", 9999999999999994.0L, "9.99999999999999E15"},
        FormatCase{"0.0001", 0.0001L, "0.0001"}, FormatCase{"0.00001", 0.00001L, "1E-5"},
        FormatCase{"negative fraction", -0.25L, "-0.25"}, FormatCase{"integral", 100.0L, "100"},
        FormatCase{"mixed", 123.456L, "123.456"},
        FormatCase{"eighteen digits", 123456789012345678.0L, "1.23456789012346E17"},
        FormatCase{"d16 of 4 rounds down", 1.000000000000004L, "1"},
        FormatCase{"18-digit rounding carries into d16", 1.000000000000004997L, "1.00000000000001"},
        FormatCase{"d16 of 5 rounds up", 1.000000000000005L, "1.00000000000001"},
        FormatCase{"largest extended", LDBL_MAX, "1.18973149535723E4932"},
        FormatCase{"smallest normal extended", LDBL_MIN, "3.36210314311209E-4932"},
        FormatCase{"denormal extended", LDBL_MIN / 4, "0"}, FormatCase{"infinity", kInf, "INF"},
        FormatCase{"negative infinity", -kInf, "-INF"}, FormatCase{"NaN", kNaN, "NAN"},
        FormatCase{"negative NaN", -kNaN, "NAN"}));

TEST_F(NumberText, FormatRealUsesTheDecimalSeparator) {
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatReal(Widened(2.5f)), "2,5");
  EXPECT_EQ(FormatReal(Widened(0.1f)), "0,100000001490116");
  EXPECT_EQ(FormatReal(Widened(1.5e-5f)), "1,49999996210681E-5");
  EXPECT_EQ(FormatReal(Widened(-9999.0f)), "-9999");
  EXPECT_EQ(ParseReal(" 1,5 "), 1.5L);
  ExpectRealFails("1.5");
}

// The exact decimal expansion of value from the C library: its first 40 significant digits and the
// decimal exponent D with value = 0.d1d2… × 10^D.
void ExactDigits(long double value, std::string& digits, int& decimal_exponent) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%.39Le", std::fabs(value));
  const std::string text = buffer;
  const std::size_t e = text.find('e');
  digits = text.substr(0, 1) + text.substr(2, e - 2);
  decimal_exponent = std::atoi(text.c_str() + e + 1) + 1;
}

// Reads a FormatReal text back into its digits (no trailing zeros) and decimal exponent D, checking
// the layout rules on the way.
void ReadFormatted(const std::string& text, std::string& digits, int& decimal_exponent) {
  const std::string body = text[0] == '-' ? text.substr(1) : text;
  ASSERT_FALSE(body.empty());
  const std::size_t e = body.find('E');
  const std::size_t point = body.find('.');
  if (point != std::string::npos) {
    ASSERT_NE(body[(e == std::string::npos ? body.size() : e) - 1], '0') << "trailing zero in " << text;
  }
  if (e != std::string::npos) {
    decimal_exponent = std::stoi(body.substr(e + 1)) + 1;
    ASSERT_TRUE(decimal_exponent > 15 || decimal_exponent < -3) << text;
    ASSERT_TRUE(e == 1 || point == 1) << text;
    digits = body.substr(0, 1) + (e > 1 ? body.substr(2, e - 2) : "");
  } else if (body.rfind("0.", 0) == 0) {
    const std::size_t first = body.find_first_not_of('0', 2);
    ASSERT_NE(first, std::string::npos) << text;
    decimal_exponent = -static_cast<int>(first - 2);
    ASSERT_GE(decimal_exponent, -3) << text;
    digits = body.substr(first);
  } else {
    decimal_exponent = static_cast<int>(point == std::string::npos ? body.size() : point);
    ASSERT_LE(decimal_exponent, 15) << text;
    digits = point == std::string::npos ? body : body.substr(0, point) + body.substr(point + 1);
    digits.erase(digits.find_last_not_of('0') + 1);
  }
  ASSERT_NE(digits[0], '0') << text;
  ASSERT_LE(digits.size(), 15u) << text;
}

// The 15 digits the format rule keeps, worked out from the exact expansion: the sixteenth to
// eighteenth digits (with the rest as a fraction) round up when they reach 499.5. The format scales
// with rounded arithmetic, so within tolerance units of that boundary either outcome is right.
struct ReferenceDigits {
  std::string up_or_down[2];
  bool ambiguous = false;
  int decimal_exponent[2] = {0, 0};
};

ReferenceDigits Reference(long double value, long double tolerance) {
  std::string exact;
  int d = 0;
  ExactDigits(value, exact, d);
  const std::uint64_t prefix = std::stoull(exact.substr(0, 15));
  const std::string tail_text = exact.substr(15, 3) + "." + exact.substr(18);
  const long double tail = std::strtold(tail_text.c_str(), nullptr);
  ReferenceDigits reference;
  reference.ambiguous = std::fabs(tail - 499.5L) <= tolerance;
  const bool up = tail >= 499.5L;
  for (int i = 0; i < 2; ++i) {
    const bool round_up = i == 0 ? up : !up;
    std::uint64_t kept = prefix + (round_up ? 1 : 0);
    int exponent = d;
    if (kept == 1000000000000000ULL) {
      kept /= 10;
      ++exponent;
    }
    std::string digits = std::to_string(kept);
    digits.erase(digits.find_last_not_of('0') + 1);
    reference.up_or_down[i] = digits;
    reference.decimal_exponent[i] = exponent;
  }
  return reference;
}

void CheckAgainstReference(long double value, long double tolerance, int& ambiguous_count) {
  const std::string text = FormatReal(value);
  SCOPED_TRACE(text);
  ASSERT_EQ(text[0] == '-', std::signbit(value));
  std::string digits;
  int d = 0;
  ReadFormatted(text, digits, d);
  const ReferenceDigits reference = Reference(value, tolerance);
  if (reference.ambiguous) {
    ++ambiguous_count;
    if (digits == reference.up_or_down[1] && d == reference.decimal_exponent[1]) return;
  }
  ASSERT_EQ(digits, reference.up_or_down[0]);
  ASSERT_EQ(d, reference.decimal_exponent[0]);
}

TEST_F(NumberText, FormatRealOfRandomSinglesMatchesExactDecimalReference) {
  std::mt19937 random(12345);
  int ambiguous = 0;
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t bits = static_cast<std::uint32_t>(random());
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value) || value == 0) continue;
    // A single needs at most two scaling steps, a few eighths of a unit in the 18th digit.
    ASSERT_NO_FATAL_FAILURE(CheckAgainstReference(value, 0.25L, ambiguous));
    ++checked;
  }
  EXPECT_LT(ambiguous, checked / 100);
}

TEST_F(NumberText, FormatRealOfRandomExtendedValuesMatchesExactDecimalReference) {
  std::mt19937_64 random(54321);
  int ambiguous = 0;
  const int count = 50000;
  for (int i = 0; i < count; ++i) {
    // Any normal 80-bit value: explicit integer bit, a random fraction and exponent field.
    const std::uint64_t mantissa = random() | 0x8000000000000000ULL;
    const auto exponent = static_cast<std::uint16_t>(1 + random() % 32766);
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &mantissa, 8);
    std::memcpy(bytes + 8, &exponent, 2);
    if (random() % 2) bytes[9] |= 0x80;
    long double value = 0;
    std::memcpy(&value, bytes, sizeof value);
    ASSERT_NO_FATAL_FAILURE(CheckAgainstReference(value, 1.0L, ambiguous));
  }
  EXPECT_LT(ambiguous, count / 100);
}

// --- RoundHalfEven -----------------------------------------------------------------------------

struct RoundCase {
  const char* name;
  long double value;
  std::optional<std::int64_t> expected;  // nullopt: EInvalidOp
};

class RoundHalfEvenTest : public NumberText, public ::testing::WithParamInterface<RoundCase> {};

TEST_P(RoundHalfEvenTest, RoundsOrRaises) {
  const RoundCase& c = GetParam();
  SCOPED_TRACE(c.name);
  if (c.expected) {
    EXPECT_EQ(RoundHalfEven(c.value), *c.expected);
    return;
  }
  try {
    RoundHalfEven(c.value);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOp& e) {
    EXPECT_EQ(e.Message(), "Invalid floating point operation");
  }
}

constexpr long double kTwo63 = 9223372036854775808.0L;

INSTANTIATE_TEST_SUITE_P(
    Table, RoundHalfEvenTest,
    ::testing::Values(
        RoundCase{"0.5", 0.5L, 0}, RoundCase{"1.5", 1.5L, 2}, RoundCase{"2.5", 2.5L, 2},
        RoundCase{"252.5", 252.5L, 252}, RoundCase{"253.5", 253.5L, 254}, RoundCase{"-0.5", -0.5L, 0},
        RoundCase{"-1.5", -1.5L, -2}, RoundCase{"-2.5", -2.5L, -2}, RoundCase{"2.7", 2.7L, 3},
        RoundCase{"-2.7", -2.7L, -3}, RoundCase{"just below a half", 0.5L - LDBL_EPSILON / 4, 0},
        RoundCase{"just above a half", 0.5L + LDBL_EPSILON / 2, 1},
        RoundCase{"beyond double precision", 4503599627370497.5L, 4503599627370498},
        RoundCase{"largest", kTwo63 - 1, std::numeric_limits<std::int64_t>::max()},
        RoundCase{"smallest", -kTwo63, std::numeric_limits<std::int64_t>::min()},
        RoundCase{"half below 2^63 rounds out of range", kTwo63 - 0.5L, std::nullopt},
        RoundCase{"2^63", kTwo63, std::nullopt}, RoundCase{"below -2^63", -kTwo63 - 1, std::nullopt},
        RoundCase{"1e19", 1e19L, std::nullopt}, RoundCase{"NaN", kNaN, std::nullopt},
        RoundCase{"infinity", kInf, std::nullopt}, RoundCase{"negative infinity", -kInf, std::nullopt}));

// --- Decimal separator -------------------------------------------------------------------------

TEST_F(NumberText, SetDecimalSeparatorChangesTheProcessWideSeparator) {
  SetDecimalSeparator(',');
  EXPECT_EQ(DecimalSeparator(), ',');
  SetDecimalSeparator('.');
  EXPECT_EQ(DecimalSeparator(), '.');
}

// Sets LC_ALL for the life of the guard.
class ScopedLcAll {
 public:
  explicit ScopedLcAll(const char* value) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    setenv("LC_ALL", value, 1);
  }
  ~ScopedLcAll() {
    if (saved_) {
      setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
  }
  ScopedLcAll(const ScopedLcAll&) = delete;
  ScopedLcAll& operator=(const ScopedLcAll&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(LocaleDecimalSeparator, IsTheCommaOfACommaLocale) {
  // Locales whose decimal separator is a comma.
  const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8",
                              "de_DE"};
  const char* found = nullptr;
  for (const char* name : candidates) {
    const locale_t locale = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) continue;
    freelocale(locale);
    found = name;
    break;
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a comma decimal separator is installed";
  const ScopedLcAll comma(found);
  EXPECT_EQ(LocaleDecimalSeparator(), ',') << found;
}

TEST(LocaleDecimalSeparator, IsTheFullStopOfTheCLocaleAndOfAnUnknownOne) {
  {
    const ScopedLcAll c("C");
    EXPECT_EQ(LocaleDecimalSeparator(), '.');
  }
  const ScopedLcAll unknown("xx_NOWHERE.UTF-8");
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

}  // namespace
}  // namespace kavrimo
