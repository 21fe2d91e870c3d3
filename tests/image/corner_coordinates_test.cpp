// The corner values derived on attaching and PixelToGeo, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "image/kel_img.h"
#include "image_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::HeaderBytes;
namespace off = test::off;

// Geographic image: RefLatitude 40, RefLongitude 30, reference point 0/0, spacings 0.5.
HeaderBytes Geographic(std::int16_t rows, std::int16_t columns) {
  HeaderBytes bytes;
  bytes.U8(off::kImageType, 200)
      .U8(off::kProjection, 3)
      .I16(off::kRows, rows)
      .I16(off::kColumns, columns)
      .Real(off::kRefLatitude, 40)
      .Real(off::kRefLongitude, 30)
      .Real(off::kColumnSpacing, 0.5L)
      .Real(off::kRowSpacing, 0.5L)
      .Real(off::kGain, 1)
      .U8(off::kDecimals, 1);
  return bytes;
}

class CornerTest : public testing::Test {
 protected:
  void Attach(const HeaderBytes& bytes) {
    const std::string path = dir_.File("img" + std::to_string(count_++) + ".img");
    test::WriteBytes(path, bytes.Bytes());
    img_.SetFileName(path);
  }

  test::TempDir dir_;
  test::RecordingUi ui_;
  TKelImg img_{ui_};
  int count_ = 0;
};

TEST_F(CornerTest, WorkedGeographicExample) {
  Attach(Geographic(10, 20));
  ASSERT_EQ(img_.State(), ImageState::ValidImage);
  EXPECT_EQ(img_.MinLongitude(), 30.0);
  EXPECT_EQ(img_.MaxLongitude(), 39.5);
  EXPECT_EQ(img_.MaxLatitude(), 40.0);
  EXPECT_EQ(img_.MinLatitude(), 35.5);
  // The middle row is row 4, at latitude 38; the span 0 to 19 columns is 9.5 degrees over 20 columns.
  const long double expected = std::cos(38.0L * std::numbers::pi_v<long double> / 180.0L) * 9.5L * 4000.0L / 720.0L;
  EXPECT_NEAR(img_.CellWidthKm(), static_cast<double>(expected), 1e-5);
  EXPECT_NEAR(img_.CellWidthKm(), 41.59, 0.005);
}

TEST_F(CornerTest, PixelToGeoFollowsTheReferencePoint) {
  HeaderBytes bytes = Geographic(10, 20);
  bytes.Real(off::kRefColumn, 2).Real(off::kRefRow, 3);
  Attach(bytes);
  double lon = 0, lat = 0;
  img_.PixelToGeo(0, 0, lon, lat);
  EXPECT_EQ(lon, 30 + 0.5 * (0 - 2));
  EXPECT_EQ(lat, 40 + 0.5 * 3);
  img_.PixelToGeo(4.5, 7.25, lon, lat);
  EXPECT_EQ(lon, 30 + 0.5 * (4.5 - 2));
  EXPECT_EQ(lat, 40 + 0.5 * (3 - 7.25));
}

TEST_F(CornerTest, NegativePositionsGiveMinusOne) {
  Attach(Geographic(10, 20));
  for (auto [column, row] : {std::pair{-0.5, 3.0}, std::pair{3.0, -0.5}, std::pair{-1.0, -1.0}}) {
    SCOPED_TRACE(std::to_string(column) + ", " + std::to_string(row));
    double lon = 0, lat = 0;
    img_.PixelToGeo(column, row, lon, lat);
    EXPECT_EQ(lon, -1.0);
    EXPECT_EQ(lat, -1.0);
  }
}

class NoProjection : public testing::TestWithParam<int> {};

TEST_P(NoProjection, GivesZeroExtremesAndWidth) {
  SCOPED_TRACE("projection " + std::to_string(GetParam()));
  test::TempDir dir;
  const std::string path = dir.File("a.img");
  HeaderBytes bytes = Geographic(10, 20);
  bytes.U8(off::kProjection, static_cast<std::uint8_t>(GetParam()));
  test::WriteBytes(path, bytes.Bytes());
  test::RecordingUi ui;
  TKelImg img(ui);
  img.SetFileName(path);
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(img.MinLatitude(), 0.0);
  EXPECT_EQ(img.MaxLatitude(), 0.0);
  EXPECT_EQ(img.MinLongitude(), 0.0);
  EXPECT_EQ(img.MaxLongitude(), 0.0);
  EXPECT_EQ(img.CellWidthKm(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Codes, NoProjection, testing::Values(0, 7));

TEST_F(CornerTest, ZeroRowsLetMinusOneIntoTheExtremes) {
  Attach(Geographic(0, 20));
  // Corners (0,0) 30/40, (0,-1) -1/-1, (19,0) 39.5/40, (19,-1) -1/-1.
  EXPECT_EQ(img_.MinLongitude(), -1.0);
  EXPECT_EQ(img_.MaxLongitude(), 39.5);
  EXPECT_EQ(img_.MinLatitude(), -1.0);
  EXPECT_EQ(img_.MaxLatitude(), 40.0);
  // The middle row is row 0, at latitude 40.
  const long double expected = std::cos(40.0L * std::numbers::pi_v<long double> / 180.0L) * 9.5L * 4000.0L / 720.0L;
  EXPECT_NEAR(img_.CellWidthKm(), static_cast<double>(expected), 1e-5);
}

TEST_F(CornerTest, ZeroColumnsRaiseDivisionByZeroAndKeepTheEarlierValues) {
  Attach(Geographic(10, 20));
  const float width = img_.CellWidthKm();
  try {
    Attach(Geographic(10, 0));
    FAIL() << "no error raised";
  } catch (const EZeroDivide& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero");
  }
  // The new file is attached; the derived values are those of the earlier one.
  EXPECT_EQ(img_.State(), ImageState::ValidImage);
  EXPECT_EQ(img_.Columns(), 0);
  EXPECT_EQ(img_.CellWidthKm(), width);
  EXPECT_EQ(img_.MaxLongitude(), 39.5);
}

TEST_F(CornerTest, ZeroColumnsWithZeroSpanRaiseInvalidOperation) {
  // Column 0 lies at longitude -1, the same value the negative last column gives: 0 / 0.
  HeaderBytes bytes = Geographic(10, 0);
  bytes.Real(off::kRefLongitude, -1);
  try {
    Attach(bytes);
    FAIL() << "no error raised";
  } catch (const EInvalidOp& e) {
    EXPECT_STREQ(e.what(), "Invalid floating point operation");
  }
}

TEST_F(CornerTest, SetsDoNotRecomputeTheDerivedValues) {
  Attach(Geographic(10, 20));
  img_.SetColumns(40);
  img_.SetRows(2);
  img_.SetRefLongitude(-100);
  img_.SetColumnSpacing(2);
  EXPECT_EQ(img_.MinLongitude(), 30.0);
  EXPECT_EQ(img_.MaxLongitude(), 39.5);
  EXPECT_EQ(img_.MinLatitude(), 35.5);
  EXPECT_EQ(img_.MaxLatitude(), 40.0);
  EXPECT_NEAR(img_.CellWidthKm(), 41.59, 0.005);
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(CornerTest, PositionRejectedByTheAzimuthalProjectionGivesMinus9999) {
  // Lambert azimuthal equal-area centred on 0/0; column 1 lies 13000 km east, beyond twice the radius.
  HeaderBytes bytes = Geographic(1, 2);
  bytes.U8(off::kProjection, 6).Real(off::kRefLatitude, 0).Real(off::kRefLongitude, 0);
  bytes.Real(off::kColumnSpacing, 13000000).Real(off::kRowSpacing, 1000);
  Attach(bytes);
  double lon = 0, lat = 0;
  img_.PixelToGeo(1, 0, lon, lat);
  EXPECT_EQ(lon, -9999.0);
  EXPECT_EQ(lat, -9999.0);
  img_.PixelToGeo(0, 0, lon, lat);  // the centre
  EXPECT_EQ(lon, 0.0);
  EXPECT_EQ(lat, 0.0);
  EXPECT_EQ(img_.MinLongitude(), -9999.0);
  EXPECT_EQ(img_.MinLatitude(), -9999.0);
  EXPECT_EQ(img_.MaxLongitude(), 0.0);
}

}  // namespace
}  // namespace kavrimo
