// Lambert azimuthal equal-area: worked examples, the rejection line on standard output, the arc_sine fault
// at 2R, and round trips in every aspect including the 180-degree flip and pole centres.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

TEST(LamazInverse, WorkedExamplesWriteNothing) {
  const Example cases[] = {{"centre", 45, 10, 0, 0, 0, 0, 45, 10, 5e-5},
                           {"within_centre_tolerance", 45, 10, 0, 0, 1e-11L, -1e-11L, 45, 10, 5e-5},
                           {"south_east", 45, 10, 0, 0, 1000000, -500000, 39.8618, 21.7532, 5e-5},
                           {"north_west", 45, 10, 0, 0, -2000000, 3000000, 65.9553, -37.6437, 5e-5},
                           {"equatorial_east", 0, 0, 0, 0, 1000000, 0, 0, 9.0025, 5e-5},
                           {"equatorial_north", 0, 0, 0, 0, 0, 1000000, 9.0025, 0, 5e-5},
                           // Beyond 90 degrees of arc: the true longitude is 119.3754, off by 180.
                           {"beyond_quarter_sphere_flips", 0, 0, 0, 0, 11000000, 0, 0, -60.6246, 5e-5}};
  testing::internal::CaptureStdout();
  for (const Example& c : cases) ExpectExample(lamaz_inverse, kLambertAzimuthal, c);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Beyond 2R: the error line and neither output assigned. Exactly 2R passes the test and takes arc_sine(1).
TEST(LamazInverse, RejectsBeyondTwoRadiiAndFaultsAtExactlyTwo) {
  const TImageHeader header = MakeHeader(kLambertAzimuthal, 45, 10);
  for (const MapXY at : {MapXY{13000000, 0}, MapXY{-9000000, 9100000}}) {
    testing::internal::CaptureStdout();
    ExpectNear(Invert(lamaz_inverse, header, at), kUnset, kUnset, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in lamaz_inverse\n") << static_cast<double>(at.x);
  }
  testing::internal::CaptureStdout();
  EXPECT_THAT([&] { Invert(lamaz_inverse, header, {2 * kR, 0}); }, RaisesZeroDivide());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(LamazInverse, FailedErrorLineWriteIsAnInputOutputError) {
  const int full = open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  dup2(full, STDOUT_FILENO);
  int code = 0;
  try {
    Invert(lamaz_inverse, MakeHeader(kLambertAzimuthal, 45, 10), {13000000, 0});
  } catch (const EInOutError& error) {
    code = error.ErrorCode();
  }
  std::fflush(stdout);  // drop whatever the failed write left behind
  std::clearerr(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(full);
  EXPECT_EQ(code, ENOSPC);
}

// Through the textbook spherical forward formulas (true pi), in every aspect. Positions more than 90
// degrees of longitude from the centre come back 180 degrees off, as the one-argument arctangent cannot
// tell the quadrants apart. The pole centres guard c: taken as cos z - sin(phi0) sin(phi) with the
// rounded phi, it is swamped by rounding there (cos phi0 is about 3e-13 at 90 degrees) and the
// longitudes turn to noise.
TEST(LamazInverse, RoundTripsInEveryAspectAndPoleCentreLongitudesAreNotRoundingNoise) {
  const std::pair<long double, long double> centres[] = {{0, 0},  {45, 10},  {-30, -120},
                                                         {90, 0}, {-90, 45}, {89.9L, 20}};
  for (const auto& [phi0, lambda0] : centres) {
    const long double p0 = phi0 * kRad;
    for (long double phi = -80; phi <= 80; phi += 40) {
      for (long double dl = -170; dl <= 170; dl += 40) {
        const long double p = phi * kRad, dr = dl * kRad;
        const long double cos_arc = std::sin(p0) * std::sin(p) + std::cos(p0) * std::cos(p) * std::cos(dr);
        if (cos_arc < -0.85L || std::fabs(dl) == 90) continue;  // ill-conditioned near the antipode; +-90 alike
        SCOPED_TRACE(Where(phi0, lambda0) + " " + Where(phi, lambda0 + dl));
        const long double k = kR * std::sqrt(2 / (1 + cos_arc));
        const MapXY at{k * std::cos(p) * std::sin(dr),
                       k * (std::cos(p0) * std::sin(p) - std::sin(p0) * std::cos(p) * std::cos(dr))};
        long double expected = lambda0 + (std::fabs(dl) > 90 ? dl - std::copysign(180.0L, dl) : dl);
        expected += expected > 180 ? -360 : expected < -180 ? 360 : 0;
        ExpectNear(Invert(lamaz_inverse, MakeHeader(kLambertAzimuthal, phi0, lambda0), at), phi, expected, 1e-7);
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo::test
