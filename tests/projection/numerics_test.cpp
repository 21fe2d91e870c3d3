// Shared numeric helpers: constants, angle conversions, arc_sine faults, wrapping, the conic m and t.
#include "projection/numerics.h"

#include <cmath>

#include <gtest/gtest.h>

#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::ExpectThrowsWithMessage;
using test::kPi;

TEST(AngleConversion, RoundTripsThroughRadians) {
  for (long double d : {-180.0L, -45.5L, 0.0L, 1e-7L, 33.25L, 359.9L}) {
    SCOPED_TRACE(static_cast<double>(d));
    EXPECT_NEAR(static_cast<double>(rad_to_deg(deg_to_rad(d))), static_cast<double>(d), 1e-12);
  }
}

TEST(ArcSine, MatchesTheLibraryInsideTheDomain) {
  EXPECT_NEAR(static_cast<double>(arc_sine(0.5L)), static_cast<double>(kPi / 6.0L), 1e-15);
  for (long double v : {-0.999999L, -0.7L, -0.1L, 0.0L, 0.25L, 0.9L, 0.999999L}) {
    SCOPED_TRACE(static_cast<double>(v));
    EXPECT_NEAR(static_cast<double>(arc_sine(v)), static_cast<double>(std::asin(v)), 1e-12);
  }
}

TEST(ArcSine, OneDividesByZero) {
  ExpectThrowsWithMessage<EZeroDivide>([] { arc_sine(1.0L); }, "Floating point division by zero");
  ExpectThrowsWithMessage<EZeroDivide>([] { arc_sine(-1.0L); }, "Floating point division by zero");
}

TEST(ArcSine, BeyondOneIsAnInvalidOperation) {
  ExpectThrowsWithMessage<EInvalidOp>([] { arc_sine(1.5L); }, "Invalid floating point operation");
  ExpectThrowsWithMessage<EInvalidOp>([] { arc_sine(-1.0000001L); }, "Invalid floating point operation");
}

TEST(SignOf, ZeroOfEitherSignCountsAsPositive) {
  EXPECT_EQ(sign_of(0.0L), 1);
  EXPECT_EQ(sign_of(-0.0L), 1);
  EXPECT_EQ(sign_of(1e-300L), 1);
  EXPECT_EQ(sign_of(-1e-300L), -1);
  EXPECT_EQ(sign_of(-5.0L), -1);
}

struct WrapCase {
  const char* name;
  long double in;
  long double out;
};

class WrapLongitude : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapLongitude, CorrectsOnceAndKeepsTheBoundary) {
  const WrapCase& c = GetParam();
  SCOPED_TRACE(c.name);
  EXPECT_EQ(wrap_longitude(c.in), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrapLongitude,
    ::testing::Values(WrapCase{"inside", 1.0L, 1.0L}, WrapCase{"east", 3.2L, 3.2L - 6.2831853072L},
                      WrapCase{"west", -3.2L, -3.2L + 6.2831853072L},
                      WrapCase{"boundary east", 3.1415926536L, 3.1415926536L},
                      WrapCase{"boundary west", -3.1415926536L, -3.1415926536L},
                      WrapCase{"true pi is inside", 3.14159265358979L, 3.14159265358979L},
                      WrapCase{"far east stays out", 10.0L, 10.0L - 6.2831853072L}),
    [](const auto& param_info) {
      std::string name = param_info.param.name;
      for (char& ch : name)
        if (ch == ' ') ch = '_';
      return name;
    });

TEST(PowerOf, NonPositiveBaseGivesZero) {
  EXPECT_EQ(power_of(0.0L, 2.0L), 0.0L);
  EXPECT_EQ(power_of(-8.0L, 1.0L / 3.0L), 0.0L);
  EXPECT_EQ(power_of(-0.0L, 0.5L), 0.0L);
}

TEST(PowerOf, BaseComesFirst) {
  EXPECT_NEAR(static_cast<double>(power_of(2.0L, 10.0L)), 1024.0, 1e-12);
  EXPECT_NEAR(static_cast<double>(power_of(10.0L, 0.5L)), std::sqrt(10.0), 1e-14);
  EXPECT_NEAR(static_cast<double>(power_of(0.25L, -1.5L)), 8.0, 1e-13);
}

// Independent forms of the conic quantities, in long double with the true pi.
long double ReferenceConicM(long double e, long double phi) {
  return std::cos(phi) / std::sqrt(1.0L - e * e * std::sin(phi) * std::sin(phi));
}
long double ReferenceConicT(long double e, long double phi) {
  const long double es = e * std::sin(phi);
  return std::tan(kPi / 4.0L - phi / 2.0L) / std::pow((1.0L - es) / (1.0L + es), e / 2.0L);
}

TEST(ConicQuantities, EccentricityFirstLatitudeSecond) {
  const long double e = clarke_e;
  for (long double phi_deg : {-60.0L, -10.0L, 23.0L, 33.0L, 45.0L, 80.0L}) {
    SCOPED_TRACE(static_cast<double>(phi_deg));
    const long double phi = phi_deg * test::kRad;
    EXPECT_NEAR(static_cast<double>(conic_m(e, phi)), static_cast<double>(ReferenceConicM(e, phi)), 1e-13);
    // pi_c is 7e-12 above pi, which moves t by about (1 + t^2) times half that.
    const long double t = ReferenceConicT(e, phi);
    EXPECT_NEAR(static_cast<double>(conic_t(e, phi)), static_cast<double>(t), 5e-12 * static_cast<double>(1 + t * t));
  }
}

TEST(ConicQuantities, TAtTheEquatorIsOne) {
  for (long double e : {0.0L, 0.08227185L, 0.3L, 0.9L}) {
    SCOPED_TRACE(static_cast<double>(e));
    EXPECT_NEAR(static_cast<double>(conic_t(e, 0.0L)), 1.0, 1e-11);
    EXPECT_EQ(conic_m(e, 0.0L), 1.0L);
  }
}

}  // namespace
}  // namespace kavrimo
