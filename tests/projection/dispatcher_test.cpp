// pixel_to_latlon: the pixel-to-map mapping, the argument order, the codes without a routine, and
// one worked example per projection reached through pixel coordinates.
#include <string>

#include <gtest/gtest.h>

#include "projection/projectn.h"
#include "projection_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::MakeHeader;

TEST(PixelToLatlon, CodesWithoutARoutineGiveZero) {
  for (int code : {0, 1, 7, 10, 100, 255}) {
    SCOPED_TRACE(code);
    TImageHeader header = MakeHeader(static_cast<unsigned char>(code), 40, 30);
    header.ColumnSpacing = Real48::Round(1);
    header.RowSpacing = Real48::Round(1);
    Real48 latitude = Real48::Round(5), longitude = Real48::Round(6);
    pixel_to_latlon(latitude, longitude, header, Real48::Round(3), Real48::Round(4));
    EXPECT_EQ(latitude.Value(), 0.0);
    EXPECT_EQ(longitude.Value(), 0.0);
  }
}

TImageHeader GeographicHeader(long double ref_latitude, long double ref_longitude, long double spacing) {
  TImageHeader header = MakeHeader(kGeographic, ref_latitude, ref_longitude);
  header.ColumnSpacing = Real48::Round(spacing);
  header.RowSpacing = Real48::Round(spacing);
  return header;
}

TEST(PixelToLatlon, GeographicRowComesBeforeColumn) {
  const TImageHeader header = GeographicHeader(10, 20, 0.5L);
  Real48 latitude, longitude;
  pixel_to_latlon(latitude, longitude, header, Real48::Round(2), Real48::Round(4));
  EXPECT_EQ(latitude.Value(), 9.0);
  EXPECT_EQ(longitude.Value(), 22.0);
}

TEST(PixelToLatlon, GeographicUsesTheReferencePixel) {
  TImageHeader header = GeographicHeader(10, 20, 0.25L);
  header.RefRow = Real48::Round(100);
  header.RefColumn = Real48::Round(50);
  Real48 latitude, longitude;
  pixel_to_latlon(latitude, longitude, header, Real48::Round(60.5L), Real48::Round(70));
  EXPECT_EQ(latitude.Value(), 10 + 0.25 * (100 - 60.5));
  EXPECT_EQ(longitude.Value(), 20 + 0.25 * (70 - 50));
}

TEST(PixelToLatlon, GeographicDoesNotWrap) {
  const TImageHeader header = GeographicHeader(85, 179, 1);
  Real48 latitude, longitude;
  pixel_to_latlon(latitude, longitude, header, Real48::Round(-10), Real48::Round(2));
  EXPECT_EQ(latitude.Value(), 95.0);
  EXPECT_EQ(longitude.Value(), 181.0);
}

TEST(PixelToLatlon, NegativeSpacingReversesTheAxis) {
  TImageHeader header = GeographicHeader(10, 20, 1);
  header.RowSpacing = Real48::Round(-0.5L);
  header.ColumnSpacing = Real48::Round(-2);
  Real48 latitude, longitude;
  pixel_to_latlon(latitude, longitude, header, Real48::Round(4), Real48::Round(3));
  EXPECT_EQ(latitude.Value(), 12.0);
  EXPECT_EQ(longitude.Value(), 14.0);
}

TEST(PixelToLatlon, ResultBeyondTheReal48RangeOverflows) {
  TImageHeader header = GeographicHeader(0, 0, 1);
  header.ColumnSpacing = Real48::Round(0x1p100L);
  Real48 latitude, longitude;
  test::ExpectThrowsWithMessage<EOverflow>(
      [&] { pixel_to_latlon(latitude, longitude, header, Real48::Round(0), Real48::Round(0x1p30L)); },
      "Floating point overflow");
}

struct DispatchCase {
  const char* name;
  unsigned char code;
  long double ref_latitude, ref_longitude, param1, param2;
  long double ref_row, ref_column, row_spacing, column_spacing;
  long double row, column;
  double latitude, longitude, tolerance;
};

class PixelToLatlonDispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(PixelToLatlonDispatch, ReachesTheProjectionOfTheCode) {
  const DispatchCase& c = GetParam();
  SCOPED_TRACE(c.name);
  TImageHeader header = MakeHeader(c.code, c.ref_latitude, c.ref_longitude, c.param1, c.param2);
  header.RefRow = Real48::Round(c.ref_row);
  header.RefColumn = Real48::Round(c.ref_column);
  header.RowSpacing = Real48::Round(c.row_spacing);
  header.ColumnSpacing = Real48::Round(c.column_spacing);
  Real48 latitude, longitude;
  pixel_to_latlon(latitude, longitude, header, Real48::Round(c.row), Real48::Round(c.column));
  EXPECT_NEAR(latitude.Value(), c.latitude, c.tolerance);
  EXPECT_NEAR(longitude.Value(), c.longitude, c.tolerance);
}

// Map position = ((column - ref column) * column spacing, (ref row - row) * row spacing).
INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, PixelToLatlonDispatch,
    ::testing::Values(
        DispatchCase{"hammer_reference_point", kHammer, 10, 20, 0, 0, 50, 60, 0.01L, 0.01L, 50, 60, 10, 20, 1e-6},
        DispatchCase{"lambert_conic_km", kLambertConic, 23, -96, 33, 45, 100, 100, 5, 5, 40, 200, 25.5207, -91.1273,
                     5e-5},
        DispatchCase{"geostationary_degrees", kGeostationary, 0, 0, 0, 0, 20, 20, 0.5L, 0.5L, 10, 30, 31.6169,
                     37.5286, 5e-5},
        DispatchCase{"lamaz_metres", kLambertAzimuthal, 45, 10, 0, 0, 0, 0, 1000, 1000, 500, 1000, 39.8618, 21.7532,
                     5e-5},
        DispatchCase{"albers_metres", kAlbers, 23, -96, 29.5L, 45.5L, 0, 0, 0.5L, 0.5L, -3071850, 3770945.4L, 35,
                     -75, 2e-6},
        DispatchCase{"goode_metres", kGoode, 0, 0, 0, 0, 3000, 3000, 1000, 1000, 1000, 4000, 17.9864, 7.9139, 5e-5}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(PixelToLatlon, RejectedLamazPositionLeavesTheOutputsAsTheCallerSetThem) {
  TImageHeader header = MakeHeader(kLambertAzimuthal, 45, 10);
  header.RowSpacing = Real48::Round(1000);
  header.ColumnSpacing = Real48::Round(1000);
  Real48 latitude = Real48::Round(-9999), longitude = Real48::Round(-9999);
  testing::internal::CaptureStdout();
  pixel_to_latlon(latitude, longitude, header, Real48::Round(0), Real48::Round(13000));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in lamaz_inverse\n");
  EXPECT_EQ(latitude.Value(), -9999.0);
  EXPECT_EQ(longitude.Value(), -9999.0);
}

}  // namespace
}  // namespace kavrimo
