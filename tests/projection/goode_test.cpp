// Interrupted Goode homolosine: the region table with its inclusive edges, central meridians,
// worked examples, the interruptions and -9999, the pole-line fault, and round trips per lobe.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection/projections.h"
#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::kPi;
using test::kRad;
using test::MakeHeader;

constexpr long double kR = 6370997;

struct RegionCase {
  const char* name;
  long double y_over_r, x_over_r;
  int region;
};

class GoodeRegion : public ::testing::TestWithParam<RegionCase> {};

TEST_P(GoodeRegion, FollowsTheTableWithInclusiveEdges) {
  const RegionCase& c = GetParam();
  SCOPED_TRACE(c.name);
  EXPECT_EQ(goode_region(c.y_over_r, c.x_over_r), c.region);
}

// Edges: y/R 0.710987989993 (40 deg 44' 11.8"), x/R -0.698131700798 (-40 deg) in the north,
// -1.74532925199 (-100), -0.349065850399 (-20) and 1.3962634016 (80) in the south.
INSTANTIATE_TEST_SUITE_P(
    Table, GoodeRegion,
    ::testing::Values(RegionCase{"r0_on_both_edges", 0.710987989993L, -0.698131700798L, 0},
                      RegionCase{"r2_just_east", 0.710987989993L, -0.6981317007979L, 2},
                      RegionCase{"r1_just_below_seam", 0.7109879899929L, -0.698131700798L, 1},
                      RegionCase{"r1_equator", 0.0L, -2.0L, 1},
                      RegionCase{"r3_equator_origin", 0.0L, 0.0L, 3},
                      RegionCase{"r3_far_east", 0.5L, 3.0L, 3},
                      RegionCase{"r4_just_south", -1e-12L, -1.74532925199L, 4},
                      RegionCase{"r5_just_east_of_minus_100", -0.2L, -1.7453292519899L, 5},
                      RegionCase{"r5_on_minus_20", -0.710987989993L, -0.349065850399L, 5},
                      RegionCase{"r8_just_east_of_minus_20", -0.3L, -0.3490658503989L, 8},
                      RegionCase{"r8_on_80", -0.3L, 1.3962634016L, 8},
                      RegionCase{"r9_east_of_80", -0.3L, 1.3962634017L, 9},
                      RegionCase{"r6_just_below_seam", -0.7109879899931L, -1.74532925199L, 6},
                      RegionCase{"r7", -1.0L, -1.0L, 7},
                      RegionCase{"r10", -1.0L, 0.0L, 10},
                      RegionCase{"r11", -1.2L, 2.0L, 11}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(GoodeCentralMeridian, PerRegionAndZeroBeyondTheTable) {
  const long double degrees[12] = {-100, -100, 30, 30, -160, -60, -160, -60, 20, 140, 20, 140};
  for (int region = 0; region < 12; ++region) {
    SCOPED_TRACE(region);
    EXPECT_NEAR(static_cast<double>(goode_central_meridian(region)), static_cast<double>(degrees[region] * kRad), 1e-11);
  }
  EXPECT_EQ(goode_central_meridian(12), 0.0L);
  EXPECT_EQ(goode_central_meridian(255), 0.0L);
}

struct GoodeCase {
  const char* name;
  long double x, y;
  double latitude, longitude;
};

class GoodeExamples : public ::testing::TestWithParam<GoodeCase> {};

TEST_P(GoodeExamples, GiveTheStatedPositionOrTheFailureValue) {
  const GoodeCase& c = GetParam();
  SCOPED_TRACE(c.name);
  // The reference point plays no part.
  const TImageHeader header = MakeHeader(kGoode, 37, -12);
  Real48 latitude, longitude;
  goode_inverse(latitude, longitude, header, c.x, c.y);
  const double tolerance = c.latitude == -9999 ? 0 : 5e-5;
  EXPECT_NEAR(latitude.Value(), c.latitude, tolerance);
  EXPECT_NEAR(longitude.Value(), c.longitude, tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, GoodeExamples,
    ::testing::Values(GoodeCase{"origin_region3", 0, 0, 0, 0},
                      GoodeCase{"region3", 1000000, 2000000, 17.9864, 7.9139},
                      GoodeCase{"region1", -8000000, 3000000, 26.9797, -68.5197},
                      GoodeCase{"region8", 5000000, -2000000, -17.9864, 46.2489},
                      GoodeCase{"region2_mollweide", 0, 6000000, 54.5720, -16.8708},
                      GoodeCase{"region0_mollweide", -12000000, 5500000, 49.7089, -111.5451},
                      GoodeCase{"region3_far_east_inside", 20000000, 0, 0, 179.8644},
                      GoodeCase{"beyond_the_pole", 0, 10000000, -9999, -9999},
                      GoodeCase{"interruption_west_of_minus_40", -4000000, 6000000, -9999, -9999},
                      GoodeCase{"region9_wraps_out_of_range", 20500000, -1000000, -9999, -9999},
                      // x/R -0.69, y/R 0.7: the sine curve puts it west of -40 degrees.
                      GoodeCase{"sine_curve_interruption", -0.69L * kR, 0.7L * kR, -9999, -9999},
                      // Region 0, far west: the Mollweide longitude falls below -pi.
                      GoodeCase{"mollweide_west_of_minus_pi", -3 * kR, 0.8L * kR, -9999, -9999},
                      // Region 3 east of the map edge: the wrapped longitude lands west of -40.
                      GoodeCase{"region3_beyond_180", 21000000, 1000000, -9999, -9999}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(GoodeInverse, PoleLineDividesByZero) {
  // arg = (y + 0.0528035274542 R) / (1.4142135623731 R) is exactly 1 here.
  const long double y = (1.4142135623731L - 0.0528035274542L) * kR;
  ASSERT_EQ((y + 0.0528035274542L * kR) / (1.4142135623731L * kR), 1.0L);
  const TImageHeader header = MakeHeader(kGoode, 0, 0);
  Real48 latitude, longitude;
  test::ExpectThrowsWithMessage<EZeroDivide>([&] { goode_inverse(latitude, longitude, header, 0, y); },
                                             "Floating point division by zero");
}

// Forward formulas of the lobes, true pi; Mollweide's auxiliary angle by Newton's method.
void ReferenceGoode(long double& x, long double& y, long double phi_deg, long double lambda_deg,
                    long double central_deg) {
  const long double phi = phi_deg * kRad, lambda = lambda_deg * kRad, central = central_deg * kRad;
  const long double seam = (40.0L + 44.0L / 60 + 11.8L / 3600) * kRad;
  if (std::fabs(phi) < seam) {
    x = kR * (central + (lambda - central) * std::cos(phi));
    y = kR * phi;
    return;
  }
  long double theta = phi;
  for (int i = 0; i < 100; ++i) {
    const long double step = (2 * theta + std::sin(2 * theta) - kPi * std::sin(phi)) / (2 + 2 * std::cos(2 * theta));
    theta -= step;
    if (std::fabs(step) < 1e-16L) break;
  }
  x = kR * (central + 2 * std::sqrt(2.0L) / kPi * (lambda - central) * std::cos(theta));
  y = kR * (std::sqrt(2.0L) * std::sin(theta) - std::copysign(0.0528035274542L, phi));
}

struct Lobe {
  const char* name;
  long double central, west, east;  // degrees
  long double south, north;         // latitude band, degrees
};

TEST(GoodeInverse, RoundTripsInEveryLobe) {
  const Lobe lobes[] = {
      {"north_america_mollweide", -100, -180, -40, 41, 85}, {"north_america_sine", -100, -180, -40, 0, 40},
      {"eurasia_mollweide", 30, -40, 180, 41, 85},          {"eurasia_sine", 30, -40, 180, 0, 40},
      {"south_pacific_sine", -160, -180, -100, -40, -1},    {"south_america_sine", -60, -100, -20, -40, -1},
      {"africa_sine", 20, -20, 80, -40, -1},                {"australia_sine", 140, 80, 180, -40, -1},
      {"south_pacific_mollweide", -160, -180, -100, -85, -41}, {"south_america_mollweide", -60, -100, -20, -85, -41},
      {"africa_mollweide", 20, -20, 80, -85, -41},          {"australia_mollweide", 140, 80, 180, -85, -41},
  };
  const TImageHeader header = MakeHeader(kGoode, 0, 0);
  for (const Lobe& lobe : lobes) {
    for (int i = 0; i <= 4; ++i) {
      for (int j = 0; j <= 4; ++j) {
        const long double phi = lobe.south + (lobe.north - lobe.south) * i / 4;
        // Keep clear of the lobe edges, where the region test and the range test meet.
        const long double lambda = lobe.west + 0.5L + (lobe.east - lobe.west - 1) * j / 4;
        SCOPED_TRACE(testing::Message() << lobe.name << " phi " << static_cast<double>(phi) << " lambda "
                                        << static_cast<double>(lambda));
        long double x = 0, y = 0;
        ReferenceGoode(x, y, phi, lambda, lobe.central);
        Real48 latitude, longitude;
        goode_inverse(latitude, longitude, header, x, y);
        EXPECT_NEAR(latitude.Value(), static_cast<double>(phi), 1e-7);
        EXPECT_NEAR(longitude.Value(), static_cast<double>(lambda), 1e-7);
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo
