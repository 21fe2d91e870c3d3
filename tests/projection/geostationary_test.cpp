// Geostationary satellite view: worked examples, the fold off the disc, the reference shift and a
// round trip through an independent line-of-sight forward computation.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection_test_support.h"

namespace kavrimo {
namespace {

using test::MakeHeader;

struct GeoCase {
  const char* name;
  long double x, y;
  double latitude, longitude;
};

struct GeoShift {
  const char* name;
  long double ref_latitude, ref_longitude;
};

const GeoCase kGeoCases[] = {
    {"sub_satellite_point", 0, 0, 0, 0},
    {"east", 5, 0, 0, 30.1808},
    {"north", 0, 5, 30.3831, 0},
    {"north_east", 5, 5, 31.6169, 37.5286},
    {"south_west", -8, -8, -52.2616, -36.2218},
    {"edge_of_disc", 9, 0, 0, 66.7054},
    {"off_disc_folds_back", 10, 0, 0, 53.8473},
};

const GeoShift kGeoShifts[] = {{"no_shift", 0, 0}, {"longitude_57", 0, 57}, {"latitude_2", 2, 0}};

class GeostationaryExamples : public ::testing::TestWithParam<std::tuple<GeoCase, GeoShift>> {};

TEST_P(GeostationaryExamples, GiveTheStatedPositionShiftedByTheReference) {
  const auto& [c, shift] = GetParam();
  SCOPED_TRACE(std::string(c.name) + " " + shift.name);
  const TImageHeader header = MakeHeader(kGeostationary, shift.ref_latitude, shift.ref_longitude);
  Real48 latitude, longitude;
  geostationary_inverse(latitude, longitude, header, c.x, c.y);
  EXPECT_NEAR(latitude.Value(), c.latitude + static_cast<double>(shift.ref_latitude), 5e-5);
  EXPECT_NEAR(longitude.Value(), c.longitude + static_cast<double>(shift.ref_longitude), 5e-5);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, GeostationaryExamples,
                         ::testing::Combine(::testing::ValuesIn(kGeoCases), ::testing::ValuesIn(kGeoShifts)),
                         [](const auto& param_info) {
                           return std::string(std::get<0>(param_info.param).name) + "_" +
                                  std::get<1>(param_info.param).name;
                         });

TEST(GeostationaryInverse, LongitudeIsNotWrappedAfterTheShift) {
  const TImageHeader header = MakeHeader(kGeostationary, 0, 170);
  Real48 latitude, longitude;
  geostationary_inverse(latitude, longitude, header, 5, 0);
  EXPECT_NEAR(longitude.Value(), 200.1808, 5e-5);
}

// Line of sight from the satellite to a point of the ellipsoid, in the routine's own angle unit
// (0.0174532 radians per degree of scan angle, 1/57.296083 radians per degree of the results).
void ReferenceScanAngles(long double& x, long double& y, long double latitude, long double longitude) {
  const long double distance = 42164, equatorial = 6378.155L, polar = 6356.7518L;
  const long double phi = latitude / 57.296083L, lambda = longitude / 57.296083L;
  const long double beta = std::atan(std::tan(phi) * polar / equatorial);  // parametric latitude
  const long double px = equatorial * std::cos(beta) * std::cos(lambda);
  const long double py = equatorial * std::cos(beta) * std::sin(lambda);
  const long double pz = polar * std::sin(beta);
  const long double s = distance - px;
  const long double a = std::atan(-py / s);
  const long double b = std::atan(pz * std::cos(a) / s);
  x = -a / 0.0174532L;
  y = b / 0.0174532L;
}

TEST(GeostationaryInverse, RoundTripsOverTheVisibleDisc) {
  const TImageHeader header = MakeHeader(kGeostationary, 0, 0);
  for (long double lat = -70; lat <= 70; lat += 10) {
    for (long double lon = -70; lon <= 70; lon += 10) {
      if (std::cos(lat * test::kRad) * std::cos(lon * test::kRad) < 0.25L) continue;  // near the limb
      SCOPED_TRACE(testing::Message() << "lat " << static_cast<double>(lat) << " lon " << static_cast<double>(lon));
      long double x = 0, y = 0;
      ReferenceScanAngles(x, y, lat, lon);
      Real48 latitude, longitude;
      geostationary_inverse(latitude, longitude, header, x, y);
      // The stored constants agree with one another to about 1e-8; towards the limb that grows to
      // about 1e-5 degrees.
      EXPECT_NEAR(latitude.Value(), static_cast<double>(lat), 3e-5);
      EXPECT_NEAR(longitude.Value(), static_cast<double>(lon), 3e-5);
    }
  }
}

}  // namespace
}  // namespace kavrimo
