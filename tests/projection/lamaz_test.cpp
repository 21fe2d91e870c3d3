// Lambert azimuthal equal-area: worked examples, the rejection line on standard output, the
// arc_sine fault at 2R, and round trips in every aspect including the 180-degree flip.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::kRad;
using test::MakeHeader;

constexpr long double kR = 6370997;

struct LamazCase {
  const char* name;
  long double phi0, lambda0, x, y;
  double latitude, longitude;
};

class LamazExamples : public ::testing::TestWithParam<LamazCase> {};

TEST_P(LamazExamples, GiveTheStatedPosition) {
  const LamazCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const TImageHeader header = MakeHeader(kLambertAzimuthal, c.phi0, c.lambda0);
  Real48 latitude, longitude;
  testing::internal::CaptureStdout();
  lamaz_inverse(latitude, longitude, header, c.x, c.y);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_NEAR(latitude.Value(), c.latitude, 5e-5);
  EXPECT_NEAR(longitude.Value(), c.longitude, 5e-5);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, LamazExamples,
    ::testing::Values(LamazCase{"centre", 45, 10, 0, 0, 45, 10},
                      LamazCase{"within_centre_tolerance", 45, 10, 1e-11L, -1e-11L, 45, 10},
                      LamazCase{"south_east", 45, 10, 1000000, -500000, 39.8618, 21.7532},
                      LamazCase{"north_west", 45, 10, -2000000, 3000000, 65.9553, -37.6437},
                      LamazCase{"equatorial_east", 0, 0, 1000000, 0, 0, 9.0025},
                      LamazCase{"equatorial_north", 0, 0, 0, 1000000, 9.0025, 0},
                      // Beyond 90 degrees of arc: the true longitude is 119.3754, off by 180.
                      LamazCase{"beyond_quarter_sphere_flips", 0, 0, 11000000, 0, 0, -60.6246}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LamazInverse, BeyondTwoRadiiWritesTheErrorLineAndAssignsNothing) {
  const TImageHeader header = MakeHeader(kLambertAzimuthal, 45, 10);
  for (auto [x, y] : {std::pair{13000000.0L, 0.0L}, {-9000000.0L, 9100000.0L}}) {
    SCOPED_TRACE(static_cast<double>(x));
    Real48 latitude = Real48::Round(-9999), longitude = Real48::Round(-9999);
    testing::internal::CaptureStdout();
    lamaz_inverse(latitude, longitude, header, x, y);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in lamaz_inverse\n");
    EXPECT_EQ(latitude.Value(), -9999.0);
    EXPECT_EQ(longitude.Value(), -9999.0);
  }
}

TEST(LamazInverse, FailedErrorLineWriteIsAnInputOutputError) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  dup2(full, STDOUT_FILENO);
  const TImageHeader header = MakeHeader(kLambertAzimuthal, 45, 10);
  Real48 latitude = Real48::Round(-9999), longitude = Real48::Round(-9999);
  int code = 0;
  try {
    lamaz_inverse(latitude, longitude, header, 13000000, 0);
  } catch (const EInOutError& error) {
    code = error.ErrorCode();
  }
  std::fflush(stdout);  // drop whatever the failed write left behind
  std::clearerr(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(full);
  EXPECT_EQ(code, ENOSPC);
  EXPECT_EQ(latitude.Value(), -9999.0);
  EXPECT_EQ(longitude.Value(), -9999.0);
}

TEST(LamazInverse, ExactlyTwoRadiiDividesByZero) {
  const TImageHeader header = MakeHeader(kLambertAzimuthal, 45, 10);
  Real48 latitude, longitude;
  testing::internal::CaptureStdout();
  test::ExpectThrowsWithMessage<EZeroDivide>(
      [&] { lamaz_inverse(latitude, longitude, header, 2 * kR, 0); }, "Floating point division by zero");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Spherical forward formulas, true pi.
void ReferenceLamaz(long double& x, long double& y, long double phi0, long double lambda0, long double phi,
                    long double lambda) {
  const long double p0 = phi0 * kRad, p = phi * kRad, dl = (lambda - lambda0) * kRad;
  const long double k = std::sqrt(2 / (1 + std::sin(p0) * std::sin(p) + std::cos(p0) * std::cos(p) * std::cos(dl)));
  x = kR * k * std::cos(p) * std::sin(dl);
  y = kR * k * (std::cos(p0) * std::sin(p) - std::sin(p0) * std::cos(p) * std::cos(dl));
}

// Every aspect; positions more than 90 degrees of longitude from the centre come back 180 degrees
// off, as the one-argument arctangent cannot tell the quadrants apart.
TEST(LamazInverse, RoundTripsInEveryAspect) {
  for (auto [phi0, lambda0] : {std::pair{0.0L, 0.0L}, {45.0L, 10.0L}, {-30.0L, -120.0L}, {90.0L, 0.0L},
                               {-90.0L, 45.0L}, {89.9L, 20.0L}}) {
    const TImageHeader header = MakeHeader(kLambertAzimuthal, phi0, lambda0);
    for (long double phi = -80; phi <= 80; phi += 20) {
      for (long double dl = -170; dl <= 170; dl += 20) {
        const long double p0 = phi0 * kRad, p = phi * kRad;
        const long double cos_arc = std::sin(p0) * std::sin(p) + std::cos(p0) * std::cos(p) * std::cos(dl * kRad);
        if (cos_arc < -0.85L) continue;  // near the antipode the inverse is ill-conditioned
        if (std::fabs(dl) == 90) continue;  // +90 and -90 are the same quotient there
        SCOPED_TRACE(testing::Message() << "centre " << static_cast<double>(phi0) << "," << static_cast<double>(lambda0)
                                        << " phi " << static_cast<double>(phi) << " dlambda " << static_cast<double>(dl));
        long double x = 0, y = 0;
        ReferenceLamaz(x, y, phi0, lambda0, phi, lambda0 + dl);
        Real48 latitude, longitude;
        lamaz_inverse(latitude, longitude, header, x, y);
        long double expected = lambda0 + (std::fabs(dl) > 90 ? dl - std::copysign(180.0L, dl) : dl);
        if (expected > 180) expected -= 360;
        if (expected < -180) expected += 360;
        EXPECT_NEAR(latitude.Value(), static_cast<double>(phi), 1e-7);
        EXPECT_NEAR(longitude.Value(), static_cast<double>(expected), 1e-7);
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
