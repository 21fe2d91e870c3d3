// Lambert conformal conic (code 4) and Albers equal-area conic (code 8): worked examples, round trips
// through the textbook ellipsoidal forward formulas, wrapping, fallbacks and faults.
#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

struct Cone {
  long double phi0, lambda0, phi1, phi2;
};

// --- Textbook forward formulas: true pi, library powers and logarithms; angles in degrees. ---

long double RefM(long double phi) {
  return std::cos(phi * kRad) / std::sqrt(1 - std::pow(kE * std::sin(phi * kRad), 2));
}
long double RefT(long double phi) {
  const long double es = kE * std::sin(phi * kRad);
  return std::tan(kPi / 4 - phi * kRad / 2) / std::pow((1 - es) / (1 + es), kE / 2);
}
long double RefQ(long double phi) {
  const long double es = kE * std::sin(phi * kRad);
  return (1 - kE * kE) * (std::sin(phi * kRad) / (1 - es * es) - std::log((1 - es) / (1 + es)) / (2 * kE));
}

// Kilometres.
MapXY RefLambert(const Cone& c, long double phi, long double lambda) {
  const long double n = std::log(RefM(c.phi1) / RefM(c.phi2)) / std::log(RefT(c.phi1) / RefT(c.phi2));
  const long double af = 6378.2064L * RefM(c.phi1) / (n * std::pow(RefT(c.phi1), n));
  const long double rho = af * std::pow(RefT(phi), n), theta = n * (lambda - c.lambda0) * kRad;
  return {rho * std::sin(theta), af * std::pow(RefT(c.phi0), n) - rho * std::cos(theta)};
}

// Metres.
MapXY RefAlbers(const Cone& c, long double phi, long double lambda) {
  const long double a = 6378206.4L, m1 = RefM(c.phi1), m2 = RefM(c.phi2);
  const long double n = (m1 * m1 - m2 * m2) / (RefQ(c.phi2) - RefQ(c.phi1)), cc = m1 * m1 + n * RefQ(c.phi1);
  const long double rho = a * std::sqrt(cc - n * RefQ(phi)) / n, theta = n * (lambda - c.lambda0) * kRad;
  return {rho * std::sin(theta), a * std::sqrt(cc - n * RefQ(c.phi0)) / n - rho * std::cos(theta)};
}

TEST(ConicInverse, WorkedExamples) {
  ExpectExample(lambert_conic_inverse, kLambertConic, {"lambert_origin", 23, -96, 33, 45, 0, 0, 23, -96, 1e-6});
  ExpectExample(lambert_conic_inverse, kLambertConic,
                {"lambert_km", 23, -96, 33, 45, 500, 300, 25.5207, -91.1273, 5e-5});
  ExpectExample(albers_inverse, kAlbers, {"albers_origin", 23, -96, 29.5, 45.5, 0, 0, 23, -96, 1e-6});
  // The published example for these parallels, given to 0.1 m.
  ExpectExample(albers_inverse, kAlbers, {"albers_m", 23, -96, 29.5, 45.5, 1885472.7L, 1535925.0L, 35, -75, 2e-6});
  const TImageHeader header = MakeHeader(kLambertConic, 23, -96, 33, 45);
  for (long double y : {-2000.0L, 0.5L, 3000.0L}) {  // the meridian of origin keeps the central longitude
    EXPECT_EQ(Invert(lambert_conic_inverse, header, {0, y}).longitude, -96.0) << static_cast<double>(y);
  }
}

// The conformal latitude iteration stops once a step is below 1e-5 radians, a few 1e-6 degrees short; the
// closed authalic series of the Albers is good to about 1e-7 degrees. The conformal conic wraps the
// longitude once, the Albers never.
TEST(ConicInverse, RoundTripsThroughTheForwardFormulas) {
  const Cone cones[] = {{23, -96, 33, 45}, {40, 10, 60, 20}, {-30, 135, -20, -45}, {40, 170, 30, 50}};
  for (const Cone& cone : cones) {
    const TImageHeader lambert = MakeHeader(kLambertConic, cone.phi0, cone.lambda0, cone.phi1, cone.phi2);
    const TImageHeader albers = MakeHeader(kAlbers, cone.phi0, cone.lambda0, cone.phi1, cone.phi2);
    for (long double phi = -80; phi <= 80; phi += 20) {
      for (long double lambda = cone.lambda0 - 90; lambda <= cone.lambda0 + 90; lambda += 30) {
        SCOPED_TRACE(Where(cone.phi0, cone.lambda0) + " " + Where(phi, lambda));
        ExpectNear(Invert(albers_inverse, albers, RefAlbers(cone, phi, lambda)), phi, lambda, 5e-7);
        if ((phi < 0) != (cone.phi1 < 0) || std::fabs(lambda - cone.lambda0) > 60) continue;  // conformal: its own half
        const LatLon got = Invert(lambert_conic_inverse, lambert, RefLambert(cone, phi, lambda));
        EXPECT_NEAR(got.latitude, static_cast<double>(phi), 5e-6);
        EXPECT_NEAR(got.longitude, static_cast<double>(lambda > 180 ? lambda - 360 : lambda), 1e-8);
      }
    }
  }
}

// Equal conformal parallels give 0/0 for the cone constant; a position level with the apex divides by zero
// in the arctangent; an Albers position beyond the pole takes arc_sine above 1.
TEST(ConicInverse, Faults) {
  const TImageHeader lambert = MakeHeader(kLambertConic, 23, -96, 33, 45);
  // clang-format off
  EXPECT_THAT([] { Invert(lambert_conic_inverse, MakeHeader(kLambertConic, 40, 0, 35, 35), {10, 10}); },
              RaisesInvalidOp());
  long double n = 0, f = 0, rho0 = 0;
  lambert_conic_constants(n, f, rho0, 23, 33, 45, kE);
  EXPECT_THAT([&] { Invert(lambert_conic_inverse, lambert, {100, rho0}); }, RaisesZeroDivide());
  const long double y_pole = RefAlbers({23, -96, 29.5, 45.5}, 90, -96).y;
  EXPECT_THAT([&] { Invert(albers_inverse, MakeHeader(kAlbers, 23, -96, 29.5, 45.5), {0, y_pole + 300000}); },
              RaisesInvalidOp());
  // clang-format on
}

TEST(AlbersInverse, DegenerateConeReturnsTheOriginForEveryPixel) {
  for (auto [phi1, phi2] : {std::pair{35.0L, 35.0L}, {30.0L, -30.0L}}) {  // equal, symmetric about the equator
    for (const MapXY at : {MapXY{0, 0}, MapXY{1e6L, -2e6L}}) {
      SCOPED_TRACE(Where(phi1, phi2) + " " + Where(at.x, at.y));
      ExpectNear(Invert(albers_inverse, MakeHeader(kAlbers, 12.5L, -33.25L, phi1, phi2), at), 12.5L, -33.25L, 0);
    }
  }
}

}  // namespace
}  // namespace kavrimo::test
