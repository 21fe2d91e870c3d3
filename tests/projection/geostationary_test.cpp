// Geostationary satellite view: worked examples with the fold off the disc and the reference shift (never
// wrapped), and a round trip through an independent line-of-sight forward computation.
#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

TEST(GeostationaryInverse, WorkedExamplesShiftedByTheReference) {
  // clang-format off
  const struct { const char* name; long double x, y; double latitude, longitude; } cases[] = {
      {"sub_satellite_point", 0, 0, 0, 0},        {"east", 5, 0, 0, 30.1808},
      {"north", 0, 5, 30.3831, 0},                {"north_east", 5, 5, 31.6169, 37.5286},
      {"south_west", -8, -8, -52.2616, -36.2218}, {"edge_of_disc", 9, 0, 0, 66.7054},
      {"off_disc_folds_back", 10, 0, 0, 53.8473}};
  // clang-format on
  // The last shift carries longitudes past 180 degrees: nothing wraps them.
  for (auto [ref_latitude, ref_longitude] : {std::pair{0.0, 0.0}, {0.0, 57.0}, {2.0, 0.0}, {0.0, 170.0}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + Where(ref_latitude, ref_longitude));
      ExpectNear(Invert(geostationary_inverse, MakeHeader(kGeostationary, ref_latitude, ref_longitude), {c.x, c.y}),
                 c.latitude + ref_latitude, c.longitude + ref_longitude, 5e-5);
    }
  }
}

// Scan angles of the line of sight from the satellite to a point of the ellipsoid, in the routine's own
// angle units (0.0174532 radians per degree of scan angle, 1/57.296083 radians per degree of the results).
MapXY ReferenceScanAngles(long double latitude, long double longitude) {
  const long double equatorial = 6378.155L, polar = 6356.7518L, lambda = longitude / 57.296083L;
  const long double beta = std::atan(std::tan(latitude / 57.296083L) * polar / equatorial);  // parametric latitude
  const long double s = 42164 - equatorial * std::cos(beta) * std::cos(lambda);
  const long double a = std::atan(-equatorial * std::cos(beta) * std::sin(lambda) / s);
  return {-a / 0.0174532L, std::atan(polar * std::sin(beta) * std::cos(a) / s) / 0.0174532L};
}

// The stored constants agree with one another to about 1e-8; towards the limb that grows to about 1e-5
// degrees.
TEST(GeostationaryInverse, RoundTripsOverTheVisibleDisc) {
  for (long double lat = -70; lat <= 70; lat += 35) {
    for (long double lon = -70; lon <= 70; lon += 35) {
      if (std::cos(lat * kRad) * std::cos(lon * kRad) < 0.25L) continue;  // near the limb
      SCOPED_TRACE(Where(lat, lon));
      ExpectNear(Invert(geostationary_inverse, MakeHeader(kGeostationary, 0, 0), ReferenceScanAngles(lat, lon)), lat,
                 lon, 3e-5);
    }
  }
}

}  // namespace
}  // namespace kavrimo::test
