// The corner values derived on attaching and PixelToGeo, against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "image/kel_img.h"
#include "image_test_support.h"
#include "runtime/errors.h"

namespace kavrimo {
namespace {

using test::SampleHeader;  // geographic: RefLatitude 40, RefLongitude 30, reference 0/0, spacings 0.5
namespace off = test::off;

// cos(latitude) x 9.5 degrees x 4000 km / (20 columns x 36), the span of columns 0 to 19.
double CellWidthOf20Columns(long double latitude) {
  return static_cast<double>(std::cos(latitude * std::numbers::pi_v<long double> / 180) * 9.5L * 4000 / 720);
}

class CornerTest : public testing::Test, public test::ImageFixture {
 protected:
  std::pair<double, double> Geo(double column, double row) const {
    std::pair<double, double> lon_lat;
    img.PixelToGeo(column, row, lon_lat.first, lon_lat.second);
    return lon_lat;
  }
  // MinLongitude, MaxLongitude, MinLatitude, MaxLatitude.
  std::vector<double> Extremes() const {
    return {img.MinLongitude(), img.MaxLongitude(), img.MinLatitude(), img.MaxLatitude()};
  }
};

TEST_F(CornerTest, WorkedGeographicExample) {
  Attach(SampleHeader(10, 20));
  ASSERT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(Extremes(), (std::vector{30.0, 39.5, 35.5, 40.0}));
  // The middle row is row 4, at latitude 38.
  EXPECT_NEAR(img.CellWidthKm(), CellWidthOf20Columns(38), 1e-5);
  EXPECT_NEAR(img.CellWidthKm(), 41.59, 0.005);
}

// Along the middle row of an azimuthal image centred at 45 N the latitude falls eastwards, so the
// cosine must be taken of the right-hand end's latitude, not the left-hand one's.
TEST_F(CornerTest, CellWidthTakesTheRightHandLatitude) {
  // clang-format off
  Attach(SampleHeader(3, 11).U8(off::kProjection, 6).Real(off::kRefLatitude, 45).Real(off::kRefLongitude, 0)
             .Real(off::kRefRow, 1).Real(off::kColumnSpacing, 100000).Real(off::kRowSpacing, 100000));
  // clang-format on
  const auto [lon_a, lat_a] = Geo(0, 1);
  const auto [lon_b, lat_b] = Geo(10, 1);
  ASSERT_GT(lat_a - lat_b, 0.5);  // the two ends differ enough to tell them apart
  const long double width = std::cos(lat_b * std::numbers::pi_v<long double> / 180) *
                            ((static_cast<long double>(lon_b) - lon_a) * 4000 / (11 * 36.0L));
  EXPECT_FLOAT_EQ(img.CellWidthKm(), static_cast<float>(width));
}

TEST_F(CornerTest, PixelToGeoFollowsTheReferencePointAndRefusesNegativePositions) {
  Attach(SampleHeader(10, 20).Real(off::kRefColumn, 2).Real(off::kRefRow, 3));
  EXPECT_EQ(Geo(0, 0), std::pair(30 + 0.5 * (0 - 2), 40 + 0.5 * 3));
  EXPECT_EQ(Geo(4.5, 7.25), std::pair(30 + 0.5 * (4.5 - 2), 40 + 0.5 * (3 - 7.25)));
  EXPECT_EQ(Geo(-0.5, 3), std::pair(-1.0, -1.0));
  EXPECT_EQ(Geo(3, -0.5), std::pair(-1.0, -1.0));
}

TEST_F(CornerTest, ProjectionsWithoutInverseGiveZeroExtremesAndWidth) {
  for (int projection : {0, 7}) {
    SCOPED_TRACE("projection " + std::to_string(projection));
    Attach(SampleHeader(10, 20).U8(off::kProjection, static_cast<std::uint8_t>(projection)),
           "p" + std::to_string(projection));
    ASSERT_EQ(img.State(), ImageState::ValidImage);
    EXPECT_EQ(Extremes(), std::vector<double>(4, 0.0));
    EXPECT_EQ(img.CellWidthKm(), 0.0f);
  }
}

TEST_F(CornerTest, ZeroRowsLetMinusOneIntoTheExtremes) {
  Attach(SampleHeader(0, 20));
  // Corners (0,0) 30/40, (0,-1) -1/-1, (19,0) 39.5/40, (19,-1) -1/-1.
  EXPECT_EQ(Extremes(), (std::vector{-1.0, 39.5, -1.0, 40.0}));
  EXPECT_NEAR(img.CellWidthKm(), CellWidthOf20Columns(40), 1e-5);  // the middle row is row 0
}

TEST_F(CornerTest, ZeroColumnsRaiseDivisionByZeroAndKeepTheEarlierValues) {
  Attach(SampleHeader(10, 20));
  const float width = img.CellWidthKm();
  EXPECT_EQ(test::MessageOf<EZeroDivide>([&] { Attach(SampleHeader(10, 0), "b.img"); }),
            "Floating point division by zero");
  // The new file is attached; the derived values are those of the earlier one.
  EXPECT_EQ(img.State(), ImageState::ValidImage);
  EXPECT_EQ(img.Columns(), 0);
  EXPECT_EQ(img.CellWidthKm(), width);
  EXPECT_EQ(Extremes(), (std::vector{30.0, 39.5, 35.5, 40.0}));
  // Column 0 at longitude -1, the value the negative last column gives as well: 0 / 0.
  const auto zero_span = [&] { Attach(SampleHeader(10, 0).Real(off::kRefLongitude, -1), "c.img"); };
  EXPECT_EQ(test::MessageOf<EInvalidOp>(zero_span), "Invalid floating point operation");
}

TEST_F(CornerTest, PositionRejectedByTheAzimuthalProjectionGivesMinus9999) {
  // Lambert azimuthal equal-area centred on 0/0; column 1 lies 13000 km east, beyond twice the radius.
  // clang-format off
  Attach(SampleHeader(1, 2).U8(off::kProjection, 6).Real(off::kRefLatitude, 0).Real(off::kRefLongitude, 0)
             .Real(off::kColumnSpacing, 13000000).Real(off::kRowSpacing, 1000));
  // clang-format on
  EXPECT_EQ(Geo(1, 0), std::pair(-9999.0, -9999.0));
  EXPECT_EQ(Geo(0, 0), std::pair(0.0, 0.0));  // the centre
  EXPECT_EQ(Extremes(), (std::vector{-9999.0, 0.0, -9999.0, 0.0}));
}

}  // namespace
}  // namespace kavrimo
