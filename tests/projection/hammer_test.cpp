// Hammer projection: forward formula against an independent one, the secant inversion on a grid,
// its start point and its behaviour off the ellipse.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection/projections.h"
#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::kRad;
using test::MakeHeader;

// The standard Hammer formulas on the unit sphere, scaled and shifted as the image stores them:
// abscissa / (2 sqrt 2), ordinate / sqrt 2 minus that of the reference latitude on its meridian.
void ReferenceHammer(long double& x, long double& y, long double phi0, long double lambda0, long double phi,
                     long double lambda) {
  const long double p = phi * kRad;
  const long double h = (lambda - lambda0) * kRad / 2.0L;
  const long double d = std::sqrt(1.0L + std::cos(p) * std::cos(h));
  const long double sqrt2 = std::sqrt(2.0L);
  x = (2.0L * sqrt2 * std::cos(p) * std::sin(h) / d) / (2.0L * sqrt2);
  y = (sqrt2 * std::sin(p) / d) / sqrt2 -
      std::sin(phi0 * kRad) / std::sqrt(1.0L + std::cos(phi0 * kRad));
}

TEST(HammerForward, MatchesTheStandardFormulas) {
  for (auto [phi0, lambda0] : {std::pair{0.0L, 0.0L}, {35.0L, -70.0L}, {-60.0L, 120.0L}}) {
    const TImageHeader header = MakeHeader(kHammer, phi0, lambda0);
    for (long double phi = -85.0L; phi <= 85.0L; phi += 17.0L) {
      for (long double dl = -175.0L; dl <= 175.0L; dl += 35.0L) {
        SCOPED_TRACE(testing::Message() << "phi0 " << static_cast<double>(phi0) << " phi " << static_cast<double>(phi)
                                        << " dlambda " << static_cast<double>(dl));
        long double x = 0, y = 0, rx = 0, ry = 0;
        hammer_forward(x, y, header, phi, lambda0 + dl);
        ReferenceHammer(rx, ry, phi0, lambda0, phi, lambda0 + dl);
        EXPECT_NEAR(static_cast<double>(x), static_cast<double>(rx), 1e-12);
        EXPECT_NEAR(static_cast<double>(y), static_cast<double>(ry), 1e-12);
      }
    }
  }
}

struct HammerCase {
  const char* name;
  long double phi0, lambda0;  // header
  long double phi, lambda;    // the position whose forward image is inverted
};

class HammerInverse : public ::testing::TestWithParam<HammerCase> {};

TEST_P(HammerInverse, ReturnsThePositionWithin1e6Degrees) {
  const HammerCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const TImageHeader header = MakeHeader(kHammer, c.phi0, c.lambda0);
  long double x = 0, y = 0;
  ReferenceHammer(x, y, c.phi0, c.lambda0, c.phi, c.lambda);
  Real48 latitude, longitude;
  hammer_inverse(latitude, longitude, header, x, y);
  EXPECT_NEAR(latitude.Value(), static_cast<double>(c.phi), 1e-6);
  EXPECT_NEAR(longitude.Value(), static_cast<double>(c.lambda), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, HammerInverse,
                         ::testing::Values(HammerCase{"centre_of_offset_map", 10, 20, 10, 20},
                                           HammerCase{"north_east", 0, 0, 45, 90},
                                           HammerCase{"south_west", 0, 0, -60, -150}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// A grid across the map for several reference points, checked against the independent forward. The
// secant steps end when the difference determinant drops below 1e-11, which leaves a few millionths
// of a degree at some points.
TEST(HammerInverse, RoundTripsAcrossTheMap) {
  for (auto [phi0, lambda0] : {std::pair{0.0L, 0.0L}, {20.0L, -40.0L}, {-45.0L, 100.0L}}) {
    const TImageHeader header = MakeHeader(kHammer, phi0, lambda0);
    for (long double phi = -75.0L; phi <= 75.0L; phi += 15.0L) {
      for (long double dl = -150.0L; dl <= 150.0L; dl += 30.0L) {
        SCOPED_TRACE(testing::Message() << "phi0 " << static_cast<double>(phi0) << " phi " << static_cast<double>(phi)
                                        << " dlambda " << static_cast<double>(dl));
        long double x = 0, y = 0;
        ReferenceHammer(x, y, phi0, lambda0, phi, lambda0 + dl);
        Real48 latitude, longitude;
        hammer_inverse(latitude, longitude, header, x, y);
        EXPECT_NEAR(latitude.Value(), static_cast<double>(phi), 1e-5);
        EXPECT_NEAR(longitude.Value(), static_cast<double>(lambda0 + dl), 1e-5);
      }
    }
  }
}

TEST(HammerInverse, StartPointMeetsTheToleranceWithoutAStep) {
  const TImageHeader header = MakeHeader(kHammer, 0, 0);
  long double x = 0, y = 0;
  hammer_forward(x, y, header, -30.0L, 36.5L);
  Real48 latitude, longitude;
  hammer_inverse(latitude, longitude, header, x, y);
  EXPECT_EQ(latitude.Value(), -30.0);
  EXPECT_EQ(longitude.Value(), 36.5);
}

TEST(HammerInverse, OffTheEllipseReturnsTheLastEstimate) {
  const TImageHeader header = MakeHeader(kHammer, 0, 0);
  Real48 latitude = Real48::Round(-9999), longitude = Real48::Round(-9999);
  // The ellipse reaches X = 1 on the equator and Y = 1 at the pole; this point lies outside it.
  hammer_inverse(latitude, longitude, header, 0.5L, 0.9L);
  // Beyond 180 degrees from the central meridian the forward formula leaves the ellipse, and that
  // is where the estimate ends: an off-map position that nothing marks.
  EXPECT_GT(latitude.Value(), 0.0);
  EXPECT_LT(latitude.Value(), 90.0);
  EXPECT_GT(std::fabs(longitude.Value()), 180.0);
  EXPECT_LT(std::fabs(longitude.Value()), 360.0);
}

// Far off the ellipse the estimates run away; storing one into the Real48 output overflows.
TEST(HammerInverse, RunawayEstimateRaisesOverflow) {
  const TImageHeader header = MakeHeader(kHammer, 0, 0);
  Real48 latitude, longitude;
  test::ExpectThrowsWithMessage<EOverflow>([&] { hammer_inverse(latitude, longitude, header, 2.0L, 0.0L); },
                                           "Floating point overflow");
}

}  // namespace
}  // namespace kavrimo
