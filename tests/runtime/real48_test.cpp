// Real48: byte examples, limits, rounding and round trips, checked against an independent long double
// reference of the format.
#include "runtime/real48.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

using Bytes = Real48::Bytes;
constexpr long double kInf = std::numeric_limits<long double>::infinity();

// The value of six bytes by the format's own formula, in long double.
long double ReferenceDecode(const Bytes& b) {
  if (b[0] == 0) return 0.0L;
  long double f = b[5] & 0x7F;
  for (int i = 4; i >= 1; --i) f = f * 256.0L + b[i];
  const long double magnitude = std::ldexp(1.0L + f / 0x1p39L, b[0] - 129);
  return (b[5] & 0x80) ? -magnitude : magnitude;
}

struct BytesCase {
  const char* name;
  long double value;
  Bytes bytes;
  bool via_double = true;  // the value survives the trip through double, as property sets pass it
};
void PrintTo(const BytesCase& c, std::ostream* os) { *os << c.name; }

class Real48Examples : public testing::TestWithParam<BytesCase> {};

TEST_P(Real48Examples, EncodesAndDecodesTheGivenBytes) {
  const BytesCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const Real48 r = Real48::Round(c.value);
  EXPECT_EQ(r.ToBytes(), c.bytes);
  EXPECT_EQ(Real48::FromBytes(c.bytes).Value(), r.Value());
  EXPECT_EQ(static_cast<long double>(r.Value()), ReferenceDecode(c.bytes));
  // The double nearest the decimal gives the same Real48 as the decimal itself.
  if (c.via_double) {
    EXPECT_EQ(Real48::Round(static_cast<double>(c.value)).ToBytes(), c.bytes);
  }
}

const BytesCase kBytesCases[] = {
    {"1.0", 1.0L, {0x81, 0, 0, 0, 0, 0}},
    {"-1.0", -1.0L, {0x81, 0, 0, 0, 0, 0x80}},
    {"3.0", 3.0L, {0x82, 0, 0, 0, 0, 0x40}},
    {"0.01", 0.01L, {0x7A, 0x71, 0x3D, 0x0A, 0xD7, 0x23}},
    // The per-type defaults of the image header.
    // clang-format off
    {"0.02", 0.02L, {0x7B, 0x71, 0x3D, 0x0A, 0xD7, 0x23}}, {"0.008", 0.008L, {0x7A, 0x8D, 0x97, 0x6E, 0x12, 0x03}},
    {"-1.006", -1.006L, {0x81, 0xE3, 0xA5, 0x9B, 0xC4, 0x80}}, {"0.003", 0.003L, {0x78, 0x54, 0xE3, 0xA5, 0x9B, 0x44}},
    {"-2.56", -2.56L, {0x82, 0x71, 0x3D, 0x0A, 0xD7, 0xA3}}, {"-1.024", -1.024L, {0x81, 0x8D, 0x97, 0x6E, 0x12, 0x83}},
    {"0.006", 0.006L, {0x79, 0x54, 0xE3, 0xA5, 0x9B, 0x44}}, {"-0.3203125", -0.3203125L, {0x7F, 0, 0, 0, 0, 0xA4}},
    {"-0.768", -0.768L, {0x80, 0x54, 0xE3, 0xA5, 0x9B, 0xC4}}, {"smallest 2^-128", 0x1p-128L, {0x01, 0, 0, 0, 0, 0}},
    {"largest (2-2^-39)*2^126", std::ldexp(2.0L - 0x1p-39L, 126), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
    // Magnitudes below 2^-128 become zero without error.
    {"2^-129", 0x1p-129L, {}}, {"-2^-129", -0x1p-129L, {}}, {"2^-200", 0x1p-200L, {}}, {"-1e-4000", -1e-4000L, {}},
    {"smallest extended denormal", std::numeric_limits<long double>::denorm_min(), {}}, {"-0", -0.0L, {}},
    // clang-format on
    // Ties round away from zero, not to even; a carry out of the fraction raises the exponent.
    {"1+2^-40", 1.0L + 0x1p-40L, {0x81, 0x01, 0, 0, 0, 0}},
    {"-(1+2^-40)", -1.0L - 0x1p-40L, {0x81, 1, 0, 0, 0, 0x80}},
    {"1+3*2^-40", 1.0L + 0x3p-40L, {0x81, 0x02, 0, 0, 0, 0}},
    // Through double this would round to the tie above, and then up.
    {"just below a tie", 1.0L + 0x1p-40L - 0x1p-62L, {0x81, 0, 0, 0, 0, 0}, false},
    {"carry into the exponent", 2.0L - 0x1p-41L, {0x82, 0, 0, 0, 0, 0}},
    {"carry from below 2^-128 up to it", std::ldexp(2.0L - 0x1p-41L, -129), {0x01, 0, 0, 0, 0, 0}}};
INSTANTIATE_TEST_SUITE_P(Table, Real48Examples, testing::ValuesIn(kBytesCases));

TEST(Real48, ZeroExponentDecodesAsZeroWhateverTheOtherBytes) {
  for (const Bytes& b : {Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0, 0, 0, 0, 0, 0x80}, Bytes{0, 1, 2, 3, 4, 5}}) {
    SCOPED_TRACE(testing::PrintToString(b));
    const Real48 r = Real48::FromBytes(b);
    EXPECT_EQ(r.Value(), 0.0);
    EXPECT_FALSE(std::signbit(r.Value()));
    EXPECT_EQ(r.ToBytes(), Bytes{});
  }
}

TEST(Real48, TooLargeOrNotFiniteRaisesOverflow) {
  // (2 - 2^-41) * 2^126 rounds up to 2^127.
  for (const long double v : {0x1p127L, -0x1p127L, std::ldexp(2.0L - 0x1p-41L, 126), 1e300L, kInf, -kInf,
                              std::numeric_limits<long double>::quiet_NaN()}) {
    SCOPED_TRACE(static_cast<double>(v));
    EXPECT_THAT([v] { return Real48::Round(v); },
                testing::ThrowsMessage<EOverflow>(testing::StrEq("Floating point overflow")));
  }
}

TEST(Real48, RandomBytesRoundTripExactly) {
  std::mt19937_64 rng(48);
  for (int i = 0; i < 50000; ++i) {
    Bytes b{};
    const std::uint64_t bits = rng();
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(bits >> (8 * k));
    if (b[0] == 0) continue;
    const Real48 r = Real48::FromBytes(b);
    ASSERT_EQ(static_cast<long double>(r.Value()), ReferenceDecode(b)) << testing::PrintToString(b);
    ASSERT_EQ(r.ToBytes(), b);
    ASSERT_EQ(Real48::Round(r.Value()), r) << testing::PrintToString(b);
  }
}

}  // namespace
}  // namespace kavrimo
