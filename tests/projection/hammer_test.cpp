// Hammer projection: the secant inversion against the textbook forward formulas, its start point and its
// behaviour off the ellipse.
#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

// The inverse at the textbook Hammer position of (phi, lambda): abscissa 2 sqrt2 cos(phi) sin(h) / D and
// ordinate sqrt2 sin(phi) / D, scaled down by 2 sqrt2 and sqrt2 as the image stores them, less the ordinate
// of the reference latitude on its meridian.
LatLon InvertReference(long double phi0, long double lambda0, long double phi, long double lambda) {
  const long double p = phi * kRad, h = (lambda - lambda0) * kRad / 2.0L;
  const long double d = std::sqrt(1.0L + std::cos(p) * std::cos(h));
  const long double y0 = std::sin(phi0 * kRad) / std::sqrt(1.0L + std::cos(phi0 * kRad));
  const MapXY at{std::cos(p) * std::sin(h) / d, std::sin(p) / d - y0};
  return Invert(hammer_inverse, MakeHeader(kHammer, phi0, lambda0), at);
}

TEST(HammerInverse, WorkedExamples) {
  // clang-format off
  const struct { const char* name; long double phi0, lambda0, phi, lambda; double tolerance; } cases[] = {
      {"centre_of_offset_map", 10, 20, 10, 20, 1e-6},
      {"north_east", 0, 0, 45, 90, 1e-6},
      {"south_west", 0, 0, -60, -150, 1e-6},
      {"start_point_meets_the_tolerance_without_a_step", 0, 0, -30, 36.5L, 0}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectNear(InvertReference(c.phi0, c.lambda0, c.phi, c.lambda), c.phi, c.lambda, c.tolerance);
  }
}

// The secant steps end when the difference determinant drops below 1e-11, which leaves a few millionths of
// a degree at some points.
TEST(HammerInverse, RoundTripsAcrossTheMap) {
  for (auto [phi0, lambda0] : {std::pair{0.0L, 0.0L}, {20.0L, -40.0L}, {-45.0L, 100.0L}}) {
    for (long double phi = -75.0L; phi <= 75.0L; phi += 25.0L) {
      for (long double lambda = lambda0 - 150; lambda <= lambda0 + 150; lambda += 50) {
        SCOPED_TRACE(Where(phi0, lambda0) + " " + Where(phi, lambda));
        ExpectNear(InvertReference(phi0, lambda0, phi, lambda), phi, lambda, 1e-5);
      }
    }
  }
}

// The ellipse reaches X = 1 on the equator and Y = 1 at the pole. Just outside it the estimate ends beyond
// 180 degrees from the central meridian, an off-map position that nothing marks; far outside the estimates
// run away and storing one into the Real48 output overflows.
TEST(HammerInverse, OffTheEllipseReturnsTheLastEstimateOrOverflows) {
  const TImageHeader header = MakeHeader(kHammer, 0, 0);
  const LatLon got = Invert(hammer_inverse, header, {0.5L, 0.9L});
  EXPECT_TRUE(got.latitude > 0 && got.latitude < 90) << got.latitude;
  EXPECT_TRUE(std::fabs(got.longitude) > 180 && std::fabs(got.longitude) < 360) << got.longitude;
  EXPECT_THAT([&] { Invert(hammer_inverse, header, {2.0L, 0.0L}); }, RaisesOverflow());
}

}  // namespace
}  // namespace kavrimo::test
