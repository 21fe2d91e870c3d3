// Real48: byte examples, limits, rounding and round trips, checked against an independent long double
// reference of the format.
#include "runtime/real48.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

using Bytes = Real48::Bytes;

std::string Hex(const Bytes& b) {
  std::string out;
  char part[4];
  for (std::uint8_t v : b) {
    std::snprintf(part, sizeof part, "%02X ", v);
    out += part;
  }
  return out;
}

// The value of six bytes by the format's own formula, in long double.
long double ReferenceDecode(const Bytes& b) {
  if (b[0] == 0) return 0.0L;
  long double f = b[5] & 0x7F;
  for (int i = 4; i >= 1; --i) f = f * 256.0L + b[i];
  const long double magnitude = std::ldexp(1.0L + f / 549755813888.0L, b[0] - 129);  // 2^39
  return (b[5] & 0x80) ? -magnitude : magnitude;
}

// The nearest Real48 by scaling into [2^39, 2^40) and rounding half away from zero; exponent limits
// applied after the carry. Returns false when the value overflows.
bool ReferenceRound(long double v, long double& out) {
  if (v == 0.0L) {
    out = 0.0L;
    return true;
  }
  const long double a = std::fabs(v);
  int e = std::ilogb(a);  // a = m * 2^e, 1 <= m < 2
  long double scaled = std::ldexp(a, 39 - e);
  long double kept = std::floor(scaled);
  if (scaled - kept >= 0.5L) kept += 1.0L;
  if (kept >= 1099511627776.0L) {  // 2^40: the carry raised the exponent
    kept /= 2.0L;
    ++e;
  }
  if (e + 129 <= 0) {
    out = 0.0L;
    return true;
  }
  if (e + 129 >= 256) return false;
  out = std::copysign(std::ldexp(kept, e - 39), v);
  return true;
}

struct BytesCase {
  const char* name;
  long double value;
  Bytes bytes;
  bool via_double = true;  // the value survives the trip through double, as property sets pass it
};

class Real48Examples : public testing::TestWithParam<BytesCase> {};

TEST_P(Real48Examples, EncodesAndDecodesTheGivenBytes) {
  const BytesCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const Real48 r = Real48::Round(c.value);
  EXPECT_EQ(Hex(r.ToBytes()), Hex(c.bytes));
  EXPECT_EQ(Real48::FromBytes(c.bytes).Value(), r.Value());
  EXPECT_EQ(static_cast<long double>(r.Value()), ReferenceDecode(c.bytes));
  // The double nearest the decimal gives the same Real48 as the decimal itself.
  if (c.via_double) {
    EXPECT_EQ(Hex(Real48::Round(static_cast<double>(c.value)).ToBytes()), Hex(c.bytes));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Real48Examples,
    testing::Values(
        BytesCase{"1.0", 1.0L, {0x81, 0, 0, 0, 0, 0}}, BytesCase{"-1.0", -1.0L, {0x81, 0, 0, 0, 0, 0x80}},
        BytesCase{"3.0", 3.0L, {0x82, 0, 0, 0, 0, 0x40}},
        BytesCase{"0.01", 0.01L, {0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}},
        BytesCase{"0.02", 0.02L, {0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23}},
        BytesCase{"0.008", 0.008L, {0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}},
        BytesCase{"-1.006", -1.006L, {0x81, 0xE3, 0xA5, 0x9B, 0xC4, 0x80}},
        BytesCase{"0.003", 0.003L, {0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}},
        BytesCase{"-2.56", -2.56L, {0x82, 0x71, 0x3D, 0x0A, 0xD7, 0xA3}},
        BytesCase{"-1.024", -1.024L, {0x81, 0x8D, 0x97, 0x6E, 0x12, 0x83}},
        BytesCase{"0.006", 0.006L, {0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}},
        BytesCase{"-0.3203125", -0.3203125L, {0x7F, 0, 0, 0, 0, 0xA4}},
        BytesCase{"-0.768", -0.768L, {0x80, 0x54, 0xE3, 0xA5, 0x9B, 0xC4}},
        BytesCase{"smallest 2^-128", std::ldexp(1.0L, -128), {0x01, 0, 0, 0, 0, 0}},
        BytesCase{"largest (2-2^-39)*2^126", std::ldexp(2.0L - std::ldexp(1.0L, -39), 126),
                  {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
        BytesCase{"2^-129 becomes zero", std::ldexp(1.0L, -129), {0, 0, 0, 0, 0, 0}},
        BytesCase{"-2^-129 becomes zero", -std::ldexp(1.0L, -129), {0, 0, 0, 0, 0, 0}},
        BytesCase{"tie 1+2^-40 rounds away from zero", 1.0L + std::ldexp(1.0L, -40),
                  {0x81, 0x01, 0, 0, 0, 0}},
        BytesCase{"tie -(1+2^-40) rounds away from zero", -(1.0L + std::ldexp(1.0L, -40)),
                  {0x81, 0x01, 0, 0, 0, 0x80}},
        BytesCase{"tie 1+3*2^-40 rounds up, not to even", 1.0L + 3.0L * std::ldexp(1.0L, -40),
                  {0x81, 0x02, 0, 0, 0, 0}},
        BytesCase{"just below a tie rounds down", 1.0L + std::ldexp(1.0L, -40) - std::ldexp(1.0L, -62),
                  {0x81, 0, 0, 0, 0, 0}, false},
        BytesCase{"carry into the exponent", 2.0L - std::ldexp(1.0L, -41), {0x82, 0, 0, 0, 0, 0}},
        BytesCase{"carry from below 2^-128 up to it", std::ldexp(2.0L - std::ldexp(1.0L, -41), -129),
                  {0x01, 0, 0, 0, 0, 0}},
        BytesCase{"negative zero", -0.0L, {0, 0, 0, 0, 0, 0}}),
    [](const testing::TestParamInfo<BytesCase>& p) { return "Case" + std::to_string(p.index); });

TEST(Real48, ZeroExponentDecodesAsZeroWhateverTheOtherBytes) {
  for (const Bytes& b : {Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0, 0, 0, 0, 0, 0x80},
                         Bytes{0, 1, 2, 3, 4, 5}}) {
    SCOPED_TRACE(Hex(b));
    const Real48 r = Real48::FromBytes(b);
    EXPECT_EQ(r.Value(), 0.0);
    EXPECT_FALSE(std::signbit(r.Value()));
    EXPECT_EQ(Hex(r.ToBytes()), Hex(Bytes{}));
  }
}

TEST(Real48, TooLargeOrNotFiniteRaisesOverflow) {
  const long double cases[] = {std::ldexp(1.0L, 127), -std::ldexp(1.0L, 127),
                               std::ldexp(2.0L - std::ldexp(1.0L, -41), 126),  // rounds up to 2^127
                               1e300L, std::numeric_limits<long double>::infinity(),
                               -std::numeric_limits<long double>::infinity(),
                               std::numeric_limits<long double>::quiet_NaN()};
  for (long double v : cases) {
    SCOPED_TRACE(std::to_string(static_cast<double>(v)));
    try {
      Real48::Round(v);
      ADD_FAILURE() << "no error raised";
    } catch (const EOverflow& e) {
      EXPECT_STREQ(e.what(), "Floating point overflow");
    }
  }
}

TEST(Real48, TinyMagnitudesBecomeZeroWithoutError) {
  for (long double v : {std::ldexp(1.0L, -200), std::numeric_limits<long double>::denorm_min(), -1e-4000L}) {
    EXPECT_EQ(Hex(Real48::Round(v).ToBytes()), Hex(Bytes{}));
  }
}

TEST(Real48, RandomBytesRoundTripExactly) {
  std::mt19937_64 rng(48);
  for (int i = 0; i < 100000; ++i) {
    Bytes b{};
    const std::uint64_t bits = rng();
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(bits >> (8 * k));
    if (b[0] == 0) continue;
    const Real48 r = Real48::FromBytes(b);
    ASSERT_EQ(static_cast<long double>(r.Value()), ReferenceDecode(b)) << Hex(b);
    ASSERT_EQ(Hex(r.ToBytes()), Hex(b));
    ASSERT_EQ(Real48::Round(r.Value()), r) << Hex(b);
  }
}

TEST(Real48, RandomExtendedValuesRoundToTheNearest) {
  std::mt19937_64 rng(129);
  std::uniform_int_distribution<int> exponent(-135, 130);
  for (int i = 0; i < 100000; ++i) {
    // A full 64-bit significand, so every rounding situation (ties included) occurs.
    std::uint64_t significand = rng() | (std::uint64_t{1} << 63);
    if (i % 4 == 0) significand = (significand & ~((std::uint64_t{1} << 24) - 1)) | (std::uint64_t{1} << 23);
    long double v = std::ldexp(static_cast<long double>(significand), exponent(rng) - 63);
    if (rng() & 1) v = -v;
    long double expected = 0;
    if (ReferenceRound(v, expected)) {
      ASSERT_EQ(Real48::Round(v).Extended(), expected) << static_cast<double>(v);
    } else {
      ASSERT_THROW(Real48::Round(v), EOverflow) << static_cast<double>(v);
    }
  }
}

}  // namespace
}  // namespace kavrimo
