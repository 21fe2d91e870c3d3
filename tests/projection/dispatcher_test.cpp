// pixel_to_latlon: the pixel-to-map mapping, the argument order, the codes without a routine, and one
// worked example per projection reached through pixel coordinates.
#include "projection_test_support.h"

namespace kavrimo::test {
namespace {

struct DispatchCase {
  const char* name;
  unsigned char code;
  long double ref_latitude, ref_longitude, param1, param2, ref_row, ref_column, row_spacing, column_spacing;
  long double row, column;
  double latitude, longitude, tolerance;
};

TImageHeader PixelHeader(const DispatchCase& c) {
  TImageHeader header = MakeHeader(c.code, c.ref_latitude, c.ref_longitude, c.param1, c.param2);
  header.RefRow = Real48::Round(c.ref_row);
  header.RefColumn = Real48::Round(c.ref_column);
  header.RowSpacing = Real48::Round(c.row_spacing);
  header.ColumnSpacing = Real48::Round(c.column_spacing);
  return header;
}

// Map position = ((column - ref column) * column spacing, (ref row - row) * row spacing). The outputs start
// at -9999; only the rejected lamaz position leaves them so, and it alone writes its line.
TEST(PixelToLatlon, ReachesTheRoutineOfTheCode) {
  const DispatchCase cases[] = {
      {"code_0", 0, 40, 30, 0, 0, 0, 0, 1, 1, 3, 4, 0, 0, 0},
      {"code_1", 1, 40, 30, 0, 0, 0, 0, 1, 1, 3, 4, 0, 0, 0},
      {"code_7", 7, 40, 30, 0, 0, 0, 0, 1, 1, 3, 4, 0, 0, 0},
      {"code_10", 10, 40, 30, 0, 0, 0, 0, 1, 1, 3, 4, 0, 0, 0},
      {"code_255", 255, 40, 30, 0, 0, 0, 0, 1, 1, 3, 4, 0, 0, 0},
      {"geographic_row_before_column", kGeographic, 10, 20, 0, 0, 0, 0, 0.5L, 0.5L, 2, 4, 9, 22, 0},
      {"geographic_reference_pixel", kGeographic, 10, 20, 0, 0, 100, 50, 0.25L, 0.25L, 60.5L, 70, 19.875, 25, 0},
      {"geographic_no_wrap", kGeographic, 85, 179, 0, 0, 0, 0, 1, 1, -10, 2, 95, 181, 0},
      {"negative_spacing_reverses", kGeographic, 10, 20, 0, 0, 0, 0, -0.5L, -2, 4, 3, 12, 14, 0},
      {"hammer_reference_point", kHammer, 10, 20, 0, 0, 50, 60, 0.01L, 0.01L, 50, 60, 10, 20, 1e-6},
      {"lambert_conic_km", kLambertConic, 23, -96, 33, 45, 100, 100, 5, 5, 40, 200, 25.5207, -91.1273, 5e-5},
      {"geostationary_degrees", kGeostationary, 0, 0, 0, 0, 20, 20, 0.5L, 0.5L, 10, 30, 31.6169, 37.5286, 5e-5},
      {"lamaz_metres", kLambertAzimuthal, 45, 10, 0, 0, 0, 0, 1000, 1000, 500, 1000, 39.8618, 21.7532, 5e-5},
      {"lamaz_rejected", kLambertAzimuthal, 45, 10, 0, 0, 0, 0, 1000, 1000, 0, 13000, -9999, -9999, 0},
      {"albers_metres", kAlbers, 23, -96, 29.5L, 45.5L, 0, 0, 0.5L, 0.5L, -3071850, 3770945.4L, 35, -75, 2e-6},
      {"goode_metres", kGoode, 0, 0, 0, 0, 3000, 3000, 1000, 1000, 1000, 4000, 17.9864, 7.9139, 5e-5}};
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    Real48 latitude = Real48::Round(-9999), longitude = Real48::Round(-9999);
    testing::internal::CaptureStdout();
    pixel_to_latlon(latitude, longitude, PixelHeader(c), Real48::Round(c.row), Real48::Round(c.column));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.latitude == -9999 ? "Error in lamaz_inverse\n" : "");
    ExpectNear({latitude.Value(), longitude.Value()}, c.latitude, c.longitude, c.tolerance);
  }
}

TEST(PixelToLatlon, ResultBeyondTheReal48RangeOverflows) {
  const TImageHeader header = PixelHeader({"huge", kGeographic, 0, 0, 0, 0, 0, 0, 1, 0x1p100L, 0, 0, 0, 0, 0});
  Real48 latitude, longitude;
  EXPECT_THAT([&] { pixel_to_latlon(latitude, longitude, header, Real48::Round(0), Real48::Round(0x1p30L)); },
              RaisesOverflow());
}

}  // namespace
}  // namespace kavrimo::test
