// Shared numeric helpers: arc_sine and its faults, sign, wrapping, powers, the conic m and t at the equator.
// The conic quantities as a whole are checked through the conformal conic's round trips.
#include "projection/numerics.h"

#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

TEST(ArcSine, MatchesTheLibraryInsideTheDomainAndFaultsOutside) {
  EXPECT_NEAR(static_cast<double>(arc_sine(0.5L)), static_cast<double>(kPi / 6.0L), 1e-15);
  for (long double v : {-0.999999L, 0.0L, 0.25L, 0.999999L}) {
    EXPECT_NEAR(static_cast<double>(arc_sine(v)), static_cast<double>(std::asin(v)), 1e-12) << static_cast<double>(v);
  }
  EXPECT_THAT([] { arc_sine(1.0L); }, RaisesZeroDivide());
  EXPECT_THAT([] { arc_sine(-1.0L); }, RaisesZeroDivide());
  EXPECT_THAT([] { arc_sine(1.5L); }, RaisesInvalidOp());
  EXPECT_THAT([] { arc_sine(-1.0000001L); }, RaisesInvalidOp());
}

TEST(SignOf, ZeroOfEitherSignCountsAsPositive) {
  for (long double v : {0.0L, -0.0L, 1e-300L}) EXPECT_EQ(sign_of(v), 1) << static_cast<double>(v);
  EXPECT_EQ(sign_of(-1e-300L), -1);
}

TEST(WrapLongitude, CorrectsOnceAndKeepsTheBoundary) {
  // clang-format off
  const std::pair<long double, long double> cases[] = {
      {1.0L, 1.0L}, {3.2L, 3.2L - 6.2831853072L}, {-3.2L, -3.2L + 6.2831853072L}, {3.1415926536L, 3.1415926536L},
      {-3.1415926536L, -3.1415926536L}, {10.0L, 10.0L - 6.2831853072L}};  // the last still beyond pi
  // clang-format on
  for (auto [in, out] : cases) EXPECT_EQ(wrap_longitude(in), out) << static_cast<double>(in);
}

TEST(PowerOf, BaseFirstAndZeroForANonPositiveBase) {
  EXPECT_EQ(power_of(0.0L, 2.0L), 0.0L);
  EXPECT_EQ(power_of(-8.0L, 1.0L / 3.0L), 0.0L);
  EXPECT_EQ(power_of(-0.0L, 0.5L), 0.0L);
  EXPECT_NEAR(static_cast<double>(power_of(2.0L, 10.0L)), 1024.0, 1e-12);
  EXPECT_NEAR(static_cast<double>(power_of(0.25L, -1.5L)), 8.0, 1e-13);
}

// pi_ten_places is slightly larger than pi, which moves t at the equator off 1 by less than 1e-11.
TEST(ConicQuantities, AtTheEquatorMIsOneAndTNearlySo) {
  for (long double e : {0.0L, clarke_e, 0.9L}) {
    EXPECT_NEAR(static_cast<double>(conic_t(e, 0.0L)), 1.0, 1e-11) << static_cast<double>(e);
    EXPECT_EQ(conic_m(e, 0.0L), 1.0L);
  }
}

}  // namespace
}  // namespace kavrimo::test
