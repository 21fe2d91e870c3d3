// Interrupted Goode homolosine: the region table with its inclusive edges, worked examples, the
// interruptions and -9999, the pole-line fault, and round trips in every lobe.
#include <iomanip>

#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

// Edges: y/R 0.710987989993 (40 deg 44' 11.8"), x/R -0.698131700798 (-40 deg) in the north,
// -1.74532925199 (-100), -0.349065850399 (-20) and 1.3962634016 (80) in the south.
TEST(GoodeRegion, FollowsTheTableWithInclusiveEdges) {
  // clang-format off
  const struct { long double y_over_r, x_over_r; int region; } cases[] = {
      {0.710987989993L, -0.698131700798L, 0}, {0.710987989993L, -0.6981317007979L, 2},
      {0.7109879899929L, -0.698131700798L, 1}, {0.0L, -2.0L, 1}, {0.0L, 0.0L, 3},
      {-1e-12L, -1.74532925199L, 4}, {-0.2L, -1.7453292519899L, 5}, {-0.710987989993L, -0.349065850399L, 5},
      {-0.3L, -0.3490658503989L, 8}, {-0.3L, 1.3962634016L, 8}, {-0.3L, 1.3962634017L, 9},
      {-0.7109879899931L, -1.74532925199L, 6}, {-1.0L, -1.0L, 7}, {-1.0L, 0.0L, 10}, {-1.2L, 2.0L, 11}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(goode_region(c.y_over_r, c.x_over_r), c.region)
        << std::setprecision(14) << static_cast<double>(c.y_over_r) << ", " << static_cast<double>(c.x_over_r);
  }
  EXPECT_EQ(goode_central_meridian(12), 0.0L);  // beyond the table
}

TEST(GoodeInverse, WorkedExamplesAndTheFailureValue) {
  // clang-format off
  const struct { const char* name; long double x, y; double latitude, longitude; } cases[] = {
      {"origin_region3", 0, 0, 0, 0},
      {"region3", 1000000, 2000000, 17.9864, 7.9139},
      {"region1", -8000000, 3000000, 26.9797, -68.5197},
      {"region8", 5000000, -2000000, -17.9864, 46.2489},
      {"region2_mollweide", 0, 6000000, 54.5720, -16.8708},
      {"region0_mollweide", -12000000, 5500000, 49.7089, -111.5451},
      {"region3_far_east_inside", 20000000, 0, 0, 179.8644},
      {"beyond_the_pole", 0, 10000000, -9999, -9999},
      {"interruption_west_of_minus_40", -4000000, 6000000, -9999, -9999},
      {"region9_wraps_out_of_range", 20500000, -1000000, -9999, -9999},
      {"sine_curve_interruption", -0.69L * kR, 0.7L * kR, -9999, -9999},  // west of -40 on the sine curve
      {"mollweide_west_of_minus_pi", -3 * kR, 0.8L * kR, -9999, -9999},   // region 0, far west
      {"region3_beyond_180", 21000000, 1000000, -9999, -9999}};           // wraps to west of -40
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectNear(Invert(goode_inverse, MakeHeader(kGoode, 37, -12), {c.x, c.y}), c.latitude, c.longitude,
               c.latitude == -9999 ? 0 : 5e-5);  // the reference point plays no part
  }
}

TEST(GoodeInverse, PoleLineDividesByZero) {
  // arg = (y + 0.0528035274542 R) / (1.4142135623731 R) is exactly 1 here.
  const long double y = (1.4142135623731L - 0.0528035274542L) * kR;
  ASSERT_EQ((y + 0.0528035274542L * kR) / (1.4142135623731L * kR), 1.0L);
  EXPECT_THAT([&] { Invert(goode_inverse, MakeHeader(kGoode, 0, 0), {0, y}); }, RaisesZeroDivide());
}

// Forward formulas of a lobe with the given central meridian, true pi; Mollweide's auxiliary angle by
// Newton's method. Degrees in, metres out.
MapXY ReferenceGoode(long double phi_deg, long double lambda_deg, long double central_deg) {
  const long double phi = phi_deg * kRad, dl = (lambda_deg - central_deg) * kRad, central = central_deg * kRad;
  if (std::fabs(phi_deg) < 40.0L + 44.0L / 60 + 11.8L / 3600) return {kR * (central + dl * std::cos(phi)), kR * phi};
  long double theta = phi;
  for (int i = 0; i < 100; ++i) {
    const long double step = (2 * theta + std::sin(2 * theta) - kPi * std::sin(phi)) / (2 + 2 * std::cos(2 * theta));
    theta -= step;
    if (!(std::fabs(step) >= 1e-16L)) break;
  }
  return {kR * (central + 2 * std::sqrt(2.0L) / kPi * dl * std::cos(theta)),
          kR * (std::sqrt(2.0L) * std::sin(theta) - std::copysign(0.0528035274542L, phi))};
}

// Each lobe in its sine-curve and its Mollweide band, kept clear of the lobe edges, where the region test
// and the range test meet.
TEST(GoodeInverse, RoundTripsInEveryLobe) {
  const struct {
    long double central, west, east;
    bool north;
  } lobes[] = {{-100, -180, -40, true}, {30, -40, 180, true}, {-160, -180, -100, false},
               {-60, -100, -20, false}, {20, -20, 80, false}, {140, 80, 180, false}};
  for (const auto& lobe : lobes) {
    for (long double phi : {1.0L, 20.0L, 40.0L, 41.0L, 63.0L, 85.0L}) {
      if (!lobe.north) phi = -phi;
      for (long double lambda : {lobe.west + 0.5L, (lobe.west + lobe.east) / 2, lobe.east - 0.5L}) {
        SCOPED_TRACE(Where(phi, lambda));
        ExpectNear(Invert(goode_inverse, MakeHeader(kGoode, 0, 0), ReferenceGoode(phi, lambda, lobe.central)), phi,
                   lambda, 1e-7);
      }
    }
  }
}

}  // namespace
}  // namespace kavrimo::test
