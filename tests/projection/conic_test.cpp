// Lambert conformal conic (code 4) and Albers equal-area conic (code 8): worked examples, round
// trips through the standard ellipsoidal forward formulas, wrapping, fallbacks and faults.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection/projections.h"
#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::ExpectThrowsWithMessage;
using test::kPi;
using test::kRad;
using test::MakeHeader;

constexpr long double kE = 0.08227185L;  // Clarke 1866

// --- Independent forward formulas (true pi, library arcsine and powers). ---

long double RefM(long double phi) { return std::cos(phi) / std::sqrt(1 - kE * kE * std::sin(phi) * std::sin(phi)); }
long double RefT(long double phi) {
  const long double es = kE * std::sin(phi);
  return std::tan(kPi / 4 - phi / 2) / std::pow((1 - es) / (1 + es), kE / 2);
}

struct LambertCone {
  long double n, f, rho0;
};

LambertCone RefLambertCone(long double phi0, long double phi1, long double phi2) {
  const long double p0 = phi0 * kRad, p1 = phi1 * kRad, p2 = phi2 * kRad;
  LambertCone c{};
  c.n = (std::log(RefM(p1)) - std::log(RefM(p2))) / (std::log(RefT(p1)) - std::log(RefT(p2)));
  c.f = RefM(p1) / (c.n * std::pow(RefT(p1), c.n));
  c.rho0 = 6378.2064L * c.f * std::pow(RefT(p0), c.n);
  return c;
}

// Kilometres.
void RefLambertForward(long double& x, long double& y, const LambertCone& c, long double lambda0, long double phi,
                       long double lambda) {
  const long double rho = 6378.2064L * c.f * std::pow(RefT(phi * kRad), c.n);
  const long double theta = c.n * (lambda - lambda0) * kRad;
  x = rho * std::sin(theta);
  y = c.rho0 - rho * std::cos(theta);
}

long double RefQ(long double phi) {
  const long double s = std::sin(phi);
  return (1 - kE * kE) * (s / (1 - kE * kE * s * s) - std::log((1 - kE * s) / (1 + kE * s)) / (2 * kE));
}

// Metres.
void RefAlbersForward(long double& x, long double& y, long double phi0, long double lambda0, long double phi1,
                      long double phi2, long double phi, long double lambda) {
  const long double a = 6378206.4L;
  const long double m1 = RefM(phi1 * kRad), m2 = RefM(phi2 * kRad);
  const long double q1 = RefQ(phi1 * kRad), q2 = RefQ(phi2 * kRad);
  const long double n = (m1 * m1 - m2 * m2) / (q2 - q1);
  const long double c = m1 * m1 + n * q1;
  const long double rho0 = a * std::sqrt(c - n * RefQ(phi0 * kRad)) / n;
  const long double rho = a * std::sqrt(c - n * RefQ(phi * kRad)) / n;
  const long double theta = n * (lambda - lambda0) * kRad;
  x = rho * std::sin(theta);
  y = rho0 - rho * std::cos(theta);
}

struct Cone {
  const char* name;
  long double phi0, lambda0, phi1, phi2;
};

const Cone kCones[] = {
    {"conterminous", 23, -96, 33, 45},
    {"swapped_parallels", 40, 10, 60, 20},
    {"southern", -30, 135, -20, -45},
};

// --- Lambert conformal conic ---

TEST(LambertConicConstants, MatchTheStandardFormulasInArgumentOrder) {
  for (const Cone& cone : kCones) {
    SCOPED_TRACE(cone.name);
    long double n = 0, f = 0, rho0 = 0;
    lambert_conic_constants(n, f, rho0, cone.phi0, cone.phi1, cone.phi2, kE);
    const LambertCone ref = RefLambertCone(cone.phi0, cone.phi1, cone.phi2);
    EXPECT_NEAR(static_cast<double>(n), static_cast<double>(ref.n), 1e-11);
    EXPECT_NEAR(static_cast<double>(f), static_cast<double>(ref.f), 1e-10);
    EXPECT_NEAR(static_cast<double>(rho0), static_cast<double>(ref.rho0), 1e-6);  // km
  }
}

TEST(LambertConicConstants, EqualParallelsAreAnInvalidOperation) {
  long double n = 0, f = 0, rho0 = 0;
  ExpectThrowsWithMessage<EInvalidOp>([&] { lambert_conic_constants(n, f, rho0, 40, 35, 35, kE); },
                                      "Invalid floating point operation");
  const TImageHeader header = MakeHeader(kLambertConic, 40, 0, 35, 35);
  Real48 latitude, longitude;
  ExpectThrowsWithMessage<EInvalidOp>([&] { lambert_conic_inverse(latitude, longitude, header, 10, 10); },
                                      "Invalid floating point operation");
}

struct MapCase {
  const char* name;
  long double phi0, lambda0, phi1, phi2;
  long double x, y;
  double latitude, longitude, tolerance;
};

std::string CaseName(const ::testing::TestParamInfo<MapCase>& param_info) { return param_info.param.name; }

class LambertExamples : public ::testing::TestWithParam<MapCase> {};

TEST_P(LambertExamples, GiveTheStatedPosition) {
  const MapCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const TImageHeader header = MakeHeader(kLambertConic, c.phi0, c.lambda0, c.phi1, c.phi2);
  Real48 latitude, longitude;
  lambert_conic_inverse(latitude, longitude, header, c.x, c.y);
  EXPECT_NEAR(latitude.Value(), c.latitude, c.tolerance);
  EXPECT_NEAR(longitude.Value(), c.longitude, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, LambertExamples,
    ::testing::Values(MapCase{"origin", 23, -96, 33, 45, 0, 0, 23, -96, 1e-6},
                      MapCase{"east_north", 23, -96, 33, 45, 500, 300, 25.5207, -91.1273, 5e-5}),
    CaseName);

TEST(LambertConicInverse, MeridianOfOriginKeepsTheCentralLongitude) {
  const TImageHeader header = MakeHeader(kLambertConic, 23, -96, 33, 45);
  for (long double y : {-2000.0L, -100.0L, 0.5L, 900.0L, 3000.0L}) {
    Real48 latitude, longitude;
    lambert_conic_inverse(latitude, longitude, header, 0, y);
    EXPECT_EQ(longitude.Value(), -96.0) << static_cast<double>(y);
  }
}

TEST(LambertConicInverse, RoundTripsThroughTheForwardFormulas) {
  for (const Cone& cone : kCones) {
    const TImageHeader header = MakeHeader(kLambertConic, cone.phi0, cone.lambda0, cone.phi1, cone.phi2);
    const LambertCone ref = RefLambertCone(cone.phi0, cone.phi1, cone.phi2);
    for (long double phi = -70; phi <= 80; phi += 10) {
      if ((phi < 0) != (cone.phi1 < 0)) continue;  // keep to the cone's hemisphere
      for (long double dl = -60; dl <= 60; dl += 15) {
        SCOPED_TRACE(testing::Message() << cone.name << " phi " << static_cast<double>(phi) << " dlambda "
                                        << static_cast<double>(dl));
        long double x = 0, y = 0;
        RefLambertForward(x, y, ref, cone.lambda0, phi, cone.lambda0 + dl);
        Real48 latitude, longitude;
        lambert_conic_inverse(latitude, longitude, header, x, y);
        // The latitude iteration stops once a step is below 1e-5 radians, a few 1e-6 degrees short.
        EXPECT_NEAR(latitude.Value(), static_cast<double>(phi), 5e-6);
        long double expected_longitude = cone.lambda0 + dl;
        if (expected_longitude > 180) expected_longitude -= 360;
        EXPECT_NEAR(longitude.Value(), static_cast<double>(expected_longitude), 1e-8);
      }
    }
  }
}

TEST(LambertConicInverse, WrapsTheLongitudeOnce) {
  const TImageHeader header = MakeHeader(kLambertConic, 40, 170, 30, 50);
  const LambertCone ref = RefLambertCone(40, 30, 50);
  long double x = 0, y = 0;
  RefLambertForward(x, y, ref, 170, 45, 195);
  Real48 latitude, longitude;
  lambert_conic_inverse(latitude, longitude, header, x, y);
  EXPECT_NEAR(latitude.Value(), 45.0, 5e-6);
  EXPECT_NEAR(longitude.Value(), -165.0, 1e-8);
}

TEST(LambertConicInverse, PositionLevelWithTheOriginAboveTheApexDividesByZero) {
  long double n = 0, f = 0, rho0 = 0;
  lambert_conic_constants(n, f, rho0, 23, 33, 45, kE);
  const TImageHeader header = MakeHeader(kLambertConic, 23, -96, 33, 45);
  Real48 latitude, longitude;
  ExpectThrowsWithMessage<EZeroDivide>([&] { lambert_conic_inverse(latitude, longitude, header, 100, rho0); },
                                       "Floating point division by zero");
}

// --- Albers equal-area conic ---

class AlbersExamples : public ::testing::TestWithParam<MapCase> {};

TEST_P(AlbersExamples, GiveTheStatedPosition) {
  const MapCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const TImageHeader header = MakeHeader(kAlbers, c.phi0, c.lambda0, c.phi1, c.phi2);
  Real48 latitude, longitude;
  albers_inverse(latitude, longitude, header, c.x, c.y);
  EXPECT_NEAR(latitude.Value(), c.latitude, c.tolerance);
  EXPECT_NEAR(longitude.Value(), c.longitude, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, AlbersExamples,
    ::testing::Values(MapCase{"origin", 23, -96, 29.5, 45.5, 0, 0, 23, -96, 1e-6},
                      // Published example for these parallels, given to 0.1 m.
                      MapCase{"east_north", 23, -96, 29.5, 45.5, 1885472.7L, 1535925.0L, 35, -75, 2e-6}),
    CaseName);

TEST(AlbersInverse, RoundTripsThroughTheForwardFormulas) {
  for (const Cone& cone : kCones) {
    const TImageHeader header = MakeHeader(kAlbers, cone.phi0, cone.lambda0, cone.phi1, cone.phi2);
    for (long double phi = -80; phi <= 80; phi += 10) {
      for (long double dl = -90; dl <= 90; dl += 15) {
        SCOPED_TRACE(testing::Message() << cone.name << " phi " << static_cast<double>(phi) << " dlambda "
                                        << static_cast<double>(dl));
        long double x = 0, y = 0;
        RefAlbersForward(x, y, cone.phi0, cone.lambda0, cone.phi1, cone.phi2, phi, cone.lambda0 + dl);
        Real48 latitude, longitude;
        albers_inverse(latitude, longitude, header, x, y);
        // The closed authalic series is good to about 1e-7 degrees.
        EXPECT_NEAR(latitude.Value(), static_cast<double>(phi), 5e-7);
        EXPECT_NEAR(longitude.Value(), static_cast<double>(cone.lambda0 + dl), 1e-8);
      }
    }
  }
}

TEST(AlbersInverse, DoesNotWrapTheLongitude) {
  const TImageHeader header = MakeHeader(kAlbers, 40, 170, 30, 50);
  long double x = 0, y = 0;
  RefAlbersForward(x, y, 40, 170, 30, 50, 45, 195);
  Real48 latitude, longitude;
  albers_inverse(latitude, longitude, header, x, y);
  EXPECT_NEAR(latitude.Value(), 45.0, 5e-7);
  EXPECT_NEAR(longitude.Value(), 195.0, 1e-8);
}

struct Degenerate {
  const char* name;
  long double phi1, phi2;
};

class AlbersDegenerateCone : public ::testing::TestWithParam<Degenerate> {};

TEST_P(AlbersDegenerateCone, ReturnsTheOriginForEveryPixel) {
  const Degenerate& d = GetParam();
  SCOPED_TRACE(d.name);
  const TImageHeader header = MakeHeader(kAlbers, 12.5L, -33.25L, d.phi1, d.phi2);
  for (auto [x, y] : {std::pair{0.0L, 0.0L}, {1e6L, -2e6L}, {-5e5L, 3e6L}}) {
    Real48 latitude, longitude;
    albers_inverse(latitude, longitude, header, x, y);
    EXPECT_EQ(latitude, header.RefLatitude);
    EXPECT_EQ(longitude, header.RefLongitude);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AlbersDegenerateCone,
                         ::testing::Values(Degenerate{"equal_parallels", 35, 35},
                                           Degenerate{"symmetric_about_equator", 30, -30}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AlbersInverse, PositionBeyondThePoleIsAnInvalidOperation) {
  const TImageHeader header = MakeHeader(kAlbers, 23, -96, 29.5, 45.5);
  long double x = 0, y_pole = 0;
  RefAlbersForward(x, y_pole, 23, -96, 29.5, 45.5, 90, -96);
  Real48 latitude, longitude;
  ExpectThrowsWithMessage<EInvalidOp>([&] { albers_inverse(latitude, longitude, header, 0, y_pole + 300000); },
                                      "Invalid floating point operation");
}

}  // namespace
}  // namespace kavrimo
