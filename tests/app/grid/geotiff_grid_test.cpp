// GeoTIFF grids: files written here by libtiff in every layout, compression, predictor, sample type,
// byte order and BigTIFF, decoded block by block against the singles they hold; the
// georeference and no-data forms; every refusal; damaged, truncated and shrinking files; the writer's
// file read back tag by tag and cell by cell.
#include "app/grid/geotiff_grid.h"

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <random>

#include "app/grid/geotiff_writer.h"
#include "runtime/errors.h"
#include "tests/support/files.h"
#include "tests/support/geotiff_files.h"

namespace kavrimo {
namespace {

using testing_support::TiffImage;

constexpr std::uint16_t kNone = 1, kLzw = 5, kDeflate = 8, kPackBits = 32773, kLzma = 34925, kZstd = 50000;
constexpr std::uint16_t kUnsigned = 1, kSigned = 2, kReal = 3;
constexpr std::uint16_t kHorizontal = 2, kFloatingPoint = 3;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Values every sample type of image holds exactly, different in every cell.
std::vector<double> Ramp(const TiffImage& image) {
  std::vector<double> values(static_cast<std::size_t>(image.ncols) * static_cast<std::size_t>(image.nrows));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto n = static_cast<double>(i);
    if (image.format == kReal) {
      values[i] = n * 0.25 - 300;
    } else if (image.bits == 8) {
      values[i] = static_cast<double>(i % 251) - (image.format == kSigned ? 125 : 0);
    } else if (image.bits == 16) {
      values[i] = static_cast<double>(i * 257 % 65536) - (image.format == kSigned ? 32768 : 0);
    } else {
      values[i] = n * 1000 - (image.format == kSigned ? 500000 : 0);
    }
  }
  return values;
}

std::vector<float> Singles(const std::vector<double>& exact) { return {exact.begin(), exact.end()}; }

// Equal bit for bit: NaN equals NaN, -0 differs from 0.
void ExpectSameCells(const std::vector<float>& got, const std::vector<float>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(std::bit_cast<std::uint32_t>(got[i]), std::bit_cast<std::uint32_t>(expected[i]))
        << "cell " << i << ": " << got[i] << " instead of " << expected[i];
  }
}

// Every cell of the grid, decoded block by block.
std::vector<float> DecodeAll(GeoTiffReader& reader) {
  const GeoTiffLayout& layout = reader.Info().layout;
  std::vector<float> grid(static_cast<std::size_t>(layout.ncols * layout.nrows));
  std::vector<float> block;
  for (std::int64_t y = 0; y < layout.blocks_down; ++y) {
    for (std::int64_t x = 0; x < layout.blocks_across; ++x) {
      const std::int64_t width = layout.WidthOf(x);
      const std::int64_t height = layout.HeightOf(y);
      const float* cells = reader.DecodeBlock(x, y);
      block.assign(cells, cells + width * height);
      for (std::int64_t r = 0; r < height; ++r) {
        std::copy_n(block.begin() + r * width, width,
                    grid.begin() + (y * layout.block_height + r) * layout.ncols + x * layout.block_width);
      }
    }
  }
  return grid;
}

class GeoTiffFiles : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("dem.tif"); }
  void Write(const TiffImage& image, const std::vector<double>& samples) const {
    testing_support::WriteTiff(Path(), image, samples);
  }
  GeoTiffReader Open() const { return GeoTiffReader(Path(), "dem.tif"); }
  // What opening the file raises, or "".
  std::string OpenMessage() const {
    try {
      Open();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  const testing_support::TempDir dir_;
};

TEST(GeoTiffName, EndsInTifOrTiffInAnyLetterCase) {
  for (const char* name : {"dem.tif", "DEM.TIFF", "a/b.Tif", "x.tIfF"}) EXPECT_TRUE(IsGeoTiffName(name)) << name;
  for (const char* name : {"dem.flt", "dem.tif.flt", "tif", "dem.tiff2", "dem.gtiff"}) {
    EXPECT_FALSE(IsGeoTiffName(name)) << name;
  }
}

// A 37 x 23 grid in every layout: tiles of 16 leave partial tiles on the right and at the bottom,
// strips of 7 a short last strip.
TEST_F(GeoTiffFiles, EveryLayoutCompressionSampleAndByteOrderDecodesToItsCells) {
  const struct {
    const char* name;
    std::uint32_t tile, rows_per_strip;
    std::uint16_t compression, predictor, format, bits;
    bool big_endian, bigtiff, overview, in_place;
  } cases[] = {
      {"one strip, uncompressed", 0, 0, kNone, 1, kReal, 32, false, false, false, true},
      {"strips of 1 row, uncompressed, big-endian", 0, 1, kNone, 1, kReal, 32, true, false, false, false},
      // clang-format off
      {"strips of 7 rows, Deflate, floating-point predictor", 0, 7, kDeflate, kFloatingPoint, kReal, 32, false, false, false, false},
      {"strips of 7 rows, LZW, horizontal predictor, 16-bit signed", 0, 7, kLzw, kHorizontal, kSigned, 16, false, false, false, false},
      {"one strip, PackBits, 8-bit unsigned, and an overview", 0, 0, kPackBits, 1, kUnsigned, 8, false, false, true, false},
      {"strips of 5 rows, LZMA, horizontal predictor, 32-bit signed, big-endian", 0, 5, kLzma, kHorizontal, kSigned, 32, true, false, false, false},
      {"strips of 7 rows, ZSTD, 64-bit real, BigTIFF", 0, 7, kZstd, 1, kReal, 64, false, true, false, false},
      {"tiles, uncompressed", 16, 0, kNone, 1, kReal, 32, false, false, false, true},
      {"tiles, uncompressed, big-endian", 16, 0, kNone, 1, kReal, 32, true, false, false, false},
      {"tiles, Deflate, floating-point predictor, BigTIFF, and an overview", 16, 0, kDeflate, kFloatingPoint, kReal, 32, false, true, true, false},
      {"tiles, ZSTD, floating-point predictor, 64-bit real, big-endian BigTIFF", 16, 0, kZstd, kFloatingPoint, kReal, 64, true, true, false, false},
      {"tiles, LZW, horizontal predictor, 8-bit signed", 32, 0, kLzw, kHorizontal, kSigned, 8, false, false, false, false},
      // clang-format on
      {"tiles, PackBits, 16-bit unsigned, big-endian", 16, 0, kPackBits, 1, kUnsigned, 16, true, false, false, false},
      {"tiles, Deflate, horizontal predictor, 32-bit unsigned", 16, 0, kDeflate, kHorizontal, kUnsigned, 32, false,
       false, false, false},
      {"tiles, LZMA, floating-point predictor, big-endian", 16, 0, kLzma, kFloatingPoint, kReal, 32, true, false, false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TiffImage image;
    image.ncols = 37;
    image.nrows = 23;
    image.tile = c.tile;
    image.rows_per_strip = c.rows_per_strip;
    image.compression = c.compression;
    image.predictor = c.predictor;
    image.format = c.format;
    image.bits = c.bits;
    image.big_endian = c.big_endian;
    image.bigtiff = c.bigtiff;
    image.overview = c.overview;
    const std::vector<double> samples = Ramp(image);
    Write(image, samples);
    const std::vector<float> expected = Singles(samples);

    GeoTiffReader reader = Open();
    const GeoTiffLayout& layout = reader.Info().layout;
    EXPECT_EQ(std::tuple(reader.Info().header.ncols, reader.Info().header.nrows), std::tuple(37, 23));
    const std::int64_t block_height = c.tile != 0 ? c.tile : c.rows_per_strip != 0 ? c.rows_per_strip : 23;
    EXPECT_EQ(
        std::tuple(layout.tiled, layout.block_width, layout.block_height, layout.blocks_across, layout.blocks_down),
        std::tuple(c.tile != 0, c.tile != 0 ? c.tile : 37, block_height,
                   (37 + (c.tile != 0 ? c.tile : 37) - 1) / (c.tile != 0 ? c.tile : 37),
                   (23 + block_height - 1) / block_height));
    EXPECT_FALSE(layout.rows_in_order);
    ExpectSameCells(DecodeAll(reader), expected);

    ASSERT_EQ(layout.in_place, c.in_place);
    if (!layout.in_place) continue;
    // The engine scans such files in place: each block's cells at its offset.
    ASSERT_EQ(layout.block_offsets.size(), static_cast<std::size_t>(layout.Blocks()));
    const std::vector<std::uint8_t> bytes = testing_support::ReadBytes(Path());
    for (std::int64_t b = 0; b < layout.Blocks(); ++b) {
      const std::int64_t x = b % layout.blocks_across;
      const std::int64_t y = b / layout.blocks_across;
      for (std::int64_t r = 0; r < layout.HeightOf(y); ++r) {
        for (std::int64_t col = 0; col < layout.WidthOf(x); ++col) {
          float cell;
          // clang-format off
          std::memcpy(&cell, bytes.data() + layout.block_offsets[static_cast<std::size_t>(b)] + 4 * (r * layout.block_width + col), 4);
          ASSERT_EQ(cell, expected[static_cast<std::size_t>((y * layout.block_height + r) * 37 + x * layout.block_width + col)]);
          // clang-format on
        }
      }
    }
  }
}

// Integers up to 16 bits are exact; 32-bit integers and 64-bit reals go to the nearest single, ties to
// even; NaN stays NaN.
TEST_F(GeoTiffFiles, EverySampleTypeBecomesTheNearestSingle) {
  const double tie_down = 1 + std::ldexp(1.0, -24);    // halfway between 1 and the next single: to 1
  const double tie_up = 1 + 3 * std::ldexp(1.0, -24);  // halfway, the even neighbour above
  using S = GeoTiffSample;
  const struct {
    std::uint16_t format, bits;
    GeoTiffSample sample;
    std::vector<double> samples;
    std::vector<float> expected;
  } cases[] = {
      {kUnsigned, 8, S::kUnsigned8, {0, 255}, {0, 255}},
      {kSigned, 8, S::kSigned8, {-128, 127}, {-128, 127}},
      {kUnsigned, 16, S::kUnsigned16, {0, 65535}, {0, 65535}},
      {kSigned, 16, S::kSigned16, {-32768, 32767}, {-32768, 32767}},
      {kUnsigned, 32, S::kUnsigned32, {16777217, 16777219, 4294967295}, {16777216, 16777220, 4294967296.0f}},
      {kSigned, 32, S::kSigned32, {-2147483648.0, 2147483647, -16777219}, {-2147483648.0f, 2147483648.0f, -16777220}},
      {kReal, 32, S::kReal32, {-0.0, 3.4028234663852886e38, std::nan("")}, {-0.0f, 3.4028234663852886e38f, kNaN}},
      // clang-format off
      {kReal, 64, S::kReal64, {0.1, tie_down, tie_up, -1e-320, 1e39, std::nan("")},
       // clang-format on
       {0.1f, 1.0f, 1 + std::ldexp(1.0f, -22), -0.0f, std::numeric_limits<float>::infinity(), kNaN}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + "-bit, format " + std::to_string(c.format));
    TiffImage image;
    image.format = c.format;
    image.bits = c.bits;
    image.ncols = static_cast<std::int32_t>(c.samples.size());
    image.nrows = 1;
    Write(image, c.samples);
    GeoTiffReader reader = Open();
    EXPECT_EQ(reader.Info().sample, c.sample);
    ExpectSameCells(DecodeAll(reader), c.expected);
  }
}

// The header a float grid would give: the left edge, the top edge less nrows row spacings (in double,
// then rounded to single), the spacings rounded to single; the row spacing only where it differs.
TEST_F(GeoTiffFiles, GeoreferenceFormsGiveTheCornerAndSpacings) {
  const std::vector<double> corner_matrix = {0.5, 0, 0, 10, 0, -0.25, 0, 50, 0, 0, 0, 0, 0, 0, 0, 1};
  const std::vector<double> centre_matrix = {0.5, 0, 0, 10.25, 0, -0.25, 0, 49.875, 0, 0, 0, 0, 0, 0, 0, 1};
  const std::vector<std::pair<int, int>> point = {{1024, 2}, {1025, 2}};
  const double arc_second = 1.0 / 3600;
  const struct {
    const char* name;
    std::vector<double> scale, ties, matrix;
    std::vector<std::pair<int, int>> keys;
    std::vector<std::pair<int, double>> double_keys;
    float xll, yll, cellsize;
    std::optional<float> cell_height;
  } cases[] = {
      {"tie point on the corner", {0.5, 0.25, 0}, {0, 0, 0, 10, 50, 0}, {}, {{1024, 2}}, {}, 10, 49.25f, 0.5f, 0.25f},
      // clang-format off
      {"tie point on another cell", {0.5, 0.25, 0}, {2, 1, 0, 11, 49.75, 0}, {}, {{1024, 2}}, {}, 10, 49.25f, 0.5f, 0.25f},
      {"PixelIsPoint", {0.5, 0.25, 0}, {0, 0, 0, 10.25, 49.875, 0}, {}, point, {}, 10, 49.25f, 0.5f, 0.25f},
      {"transformation", {}, {}, corner_matrix, {{1024, 2}}, {}, 10, 49.25f, 0.5f, 0.25f},
      {"transformation, PixelIsPoint", {}, {}, centre_matrix, point, {}, 10, 49.25f, 0.5f, 0.25f},
      {"no GeoKeys: latitude and longitude", {0.5, 0.25, 0}, {0, 0, 0, 10, 50, 0}, {}, {}, {}, 10, 49.25f, 0.5f, 0.25f},
      {"no GeoKeys: longitudes up to 360, latitudes down to -90", {90, 60, 0}, {0, 0, 0, 0, 90, 0}, {}, {{1025, 1}}, {}, 0, -90, 90, 60},
      {"the prime meridian of Greenwich", {0.5, 0.25, 0}, {0, 0, 0, 10, 50, 0}, {}, {{1024, 2}, {2048, 32767}, {2051, 8901}},
       {}, 10, 49.25f, 0.5f, 0.25f},
      {"user-defined unit of a degree", {0.5, 0.25, 0}, {0, 0, 0, 10, 50, 0}, {}, {{1024, 2}, {2054, 32767}},
       {{2055, std::numbers::pi / 180}}, 10, 49.25f, 0.5f, 0.25f},
      // The bottom edge rounded once from double: in single arithmetic it would come out 59.9990311.
      {"square arc-second cells", {arc_second, arc_second, 0}, {0, 0, 0, 7.1, 59.99986111111111, 0}, {},
       {{1024, 2}, {2054, 9122}}, {}, static_cast<float>(7.1), 59.9990273f, static_cast<float>(arc_second), std::nullopt},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TiffImage image;  // 4 x 3 cells
    image.pixel_scale = c.scale;
    image.tiepoints = c.ties;
    image.transformation = c.matrix;
    image.short_keys = c.keys;
    image.double_keys = c.double_keys;
    Write(image, Ramp(image));
    const GridHeader header = Open().Info().header;
    EXPECT_EQ(std::tuple(header.xllcorner, header.yllcorner, header.cellsize, header.cell_height),
              std::tuple(c.xll, c.yll, c.cellsize, c.cell_height));
  }
}

TEST_F(GeoTiffFiles, NoDataTagIsRoundedToSingleAndNanMakesNanCellsNoData) {
  const float infinity = std::numeric_limits<float>::infinity();
  const struct {
    std::optional<std::string> tag;
    std::optional<float> nodata;
    bool nan;
  } cases[] = {
      {std::nullopt, std::nullopt, false},
      {"-9999", -9999, false},
      {" 0.1 ", 0.1f, false},
      {"+16777217", 16777216, false},
      {"-3.4028234663852886e+38", std::numeric_limits<float>::lowest(), false},
      {"-1.7976931348623157e+308", -infinity, false},  // as a 64-bit cell of that value becomes
      {"-1e-50", -0.0f, false},
      {"nan", kNaN, true},
      {"NaN", kNaN, true},
      {"-NAN", -kNaN, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag.value_or("no tag"));
    TiffImage image;
    image.nodata = c.tag;
    Write(image, Ramp(image));
    const GeoTiffInfo info = Open().Info();
    ASSERT_EQ(info.header.nodata_single.has_value(), c.nodata.has_value());
    if (c.nan) {
      EXPECT_TRUE(std::isnan(*info.header.nodata_single));
    } else if (c.nodata) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(*info.header.nodata_single), std::bit_cast<std::uint32_t>(*c.nodata));
    }
    EXPECT_EQ(info.nan_is_nodata, c.nan);
  }
}

TEST_F(GeoTiffFiles, WhatIsNoGridOrNotInLatitudeAndLongitudeIsRefused) {
  const auto with = [](auto change) {
    TiffImage image;
    change(image);
    return image;
  };
  const std::string not_lat_lon = "dem.tif is not in latitude and longitude (";
  const std::string rotated = "dem.tif is rotated; only north-up grids can be converted";
  const struct {
    const char* name;
    TiffImage image;
    std::string message;
  } cases[] = {
      {"three bands", with([](TiffImage& s) { s.bands = 3; }),
       "dem.tif has 3 bands; only single-band grids can be converted"},
      {"1 bit", with([](TiffImage& s) { s.bits = 1, s.format = kUnsigned; }),
       "dem.tif holds 1-bit unsigned integer samples, which cannot be converted"},
      {"16-bit reals", with([](TiffImage& s) { s.bits = 16; }),
       "dem.tif holds 16-bit floating-point samples, which cannot be converted"},
      {"64-bit integers", with([](TiffImage& s) { s.bits = 64, s.format = kSigned; }),
       "dem.tif holds 64-bit signed integer samples, which cannot be converted"},
      {"complex reals", with([](TiffImage& s) { s.bits = 64, s.format = 6; }),
       "dem.tif holds 64-bit complex floating-point samples, which cannot be converted"},
      {"too wide", with([](TiffImage& s) { s.ncols = 40000, s.nrows = 1; }),
       "Grid of 40000 columns and 1 rows cannot be converted: a Miradel image holds 1 to 32767 of each"},
      {"rotated", with([](TiffImage& s) {
         s.pixel_scale = s.tiepoints = {};
         s.transformation = {0.5, 0.01, 0, 10, 0, -0.25, 0, 50, 0, 0, 0, 0, 0, 0, 0, 1};
       }),
       rotated},
      // clang-format off
      {"south at the top", with([](TiffImage& s) { s.pixel_scale = {0.5, -0.25, 0}; }), rotated},
      // clang-format on
      {"no georeference", with([](TiffImage& s) { s.pixel_scale = s.tiepoints = {}; }), "dem.tif has no georeference"},
      {"a cell size but no tie point", with([](TiffImage& s) { s.tiepoints = {}; }), "dem.tif has no georeference"},
      {"tie points without a cell size", with([](TiffImage& s) {
         s.pixel_scale = {};
         s.tiepoints = {0, 0, 0, 10, 50, 0, 4, 0, 0, 12, 50, 0, 0, 3, 0, 10, 49, 0};
       }),
       "dem.tif is placed by 3 tie points; only one tie point with a cell size can be converted"},
      {"a tie point cut short", with([](TiffImage& s) {
         s.tiepoints = {0, 0, 0, 10, 50};
       }),
       "dem.tif is damaged: its tie points hold 5 values, not six each"},
      {"cells of size 0", with([](TiffImage& s) {
         s.pixel_scale = {0, 0.25, 0};
       }),
       "dem.tif has a georeference that cannot be used (a cell size of 0)"},
      {"projected", with([](TiffImage& s) {
         s.short_keys = {{1024, 1}, {3072, 32633}};
       }),
       not_lat_lon + "projected coordinate system EPSG:32633)"},
      {"projected, no model type", with([](TiffImage& s) {
         s.short_keys = {{3072, 32633}};
       }),
       not_lat_lon + "projected coordinate system EPSG:32633)"},
      // clang-format off
      {"geocentric", with([](TiffImage& s) { s.short_keys = {{1024, 3}}; }), not_lat_lon + "geocentric coordinate system)"},
      {"radians", with([](TiffImage& s) { s.short_keys = {{1024, 2}, {2054, 9101}}; }), not_lat_lon + "angular unit EPSG:9101)"},
      // clang-format on
      {"a user-defined grad", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2054, 32767}};
         s.double_keys = {{2055, std::numbers::pi / 200}};
       }),
       not_lat_lon + "an angular unit of 0.015707963267948967 radians)"},
      {"a geographic system counted in grads", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2048, 4807}};
       }),
       not_lat_lon + "geographic coordinate system EPSG:4807 in an angular unit other than the degree)"},
      {"no GeoKeys, corners in metres", with([](TiffImage& s) {
         s.short_keys = {};
         s.pixel_scale = {30, 30, 0};
         s.tiepoints = {0, 0, 0, 500000, 4649776, 0};
       }),
       "dem.tif names no coordinate system and its corners are not degrees (left 500000, bottom 4649686, right "
       "500120, top 4649776)"},
      {"no GeoKeys, a latitude past the pole", with([](TiffImage& s) {
         s.short_keys = {{1025, 1}};
         s.tiepoints = {0, 0, 0, 10, 90.5, 0};
       }),
       "dem.tif names no coordinate system and its corners are not degrees (left 10, bottom 89.75, right 12, top "
       "90.5)"},
      {"a GeoKey directory libtiff drops", with([](TiffImage& s) { s.key_directory_type = 2; }),
       "dem.tif is damaged: its GeoKeys cannot be read (their directory, tag 34735, is of type 2, not 3)"},
      {"the prime meridian of Jakarta", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2048, 4804}};
       }),
       not_lat_lon + "geographic coordinate system EPSG:4804 on the prime meridian of Jakarta)"},
      {"the prime meridian of Bern", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2048, 4801}};
       }),
       not_lat_lon + "geographic coordinate system EPSG:4801 on the prime meridian of Bern)"},
      {"a prime meridian by its code", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2048, 32767}, {2051, 8908}};
       }),
       not_lat_lon + "prime meridian EPSG:8908, Jakarta)"},
      {"a prime meridian by its longitude", with([](TiffImage& s) {
         s.short_keys = {{1024, 2}, {2048, 32767}, {2051, 32767}};
         s.double_keys = {{2061, 106.807719444444}};
       }),
       not_lat_lon + "a prime meridian 106.807719444444 degrees east of Greenwich)"},
      {"a cell size that is 0 in single", with([](TiffImage& s) {
         s.pixel_scale = {1e-50, 0.25, 0};
       }),
       "dem.tif has a georeference that cannot be used (a cell size of 1e-50, which is 0 in single precision)"},
      {"a corner beyond the single range", with([](TiffImage& s) { s.tiepoints = {0, 0, 0, 1e39, 50, 0}; }),
       "dem.tif has a georeference that cannot be used (a left edge of 1e+39, beyond the range of single "
       "precision)"},
      {"a cell size beyond the single range", with([](TiffImage& s) {
         s.pixel_scale = {0.5, 1e39, 0};
       }),
       "dem.tif has a georeference that cannot be used (a row spacing of 1e+39, beyond the range of single "
       "precision)"},
      {"no-data tag of text", with([](TiffImage& s) { s.nodata = "none"; }),
       "dem.tif has a no-data tag that is not a number ('none')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.image, std::vector<double>(static_cast<std::size_t>(c.image.ncols * c.image.nrows * c.image.bands), 1));
    EXPECT_EQ(OpenMessage(), c.message);
  }
}

TEST_F(GeoTiffFiles, DamagedTruncatedAndShrinkingFilesSayWhatIsWrong) {
  const auto starts_with = [](const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; };
  TiffImage image;
  image.ncols = 37;
  image.nrows = 23;
  image.compression = kDeflate;
  image.predictor = kFloatingPoint;
  std::vector<double> noise(37 * 23);
  std::mt19937 random(7);
  for (double& v : noise) v = std::uniform_real_distribution<double>(-1000, 1000)(random);

  for (const std::string& bytes : {std::string("hello, world"), std::string()}) {
    testing_support::WriteText(Path(), bytes);
    EXPECT_EQ(OpenMessage(), "dem.tif is not a TIFF file");
  }

  // Cut short where the directory comes last, as libtiff writes it: in the directory, or in the values
  // of its last tags (which libtiff alone would drop unseen).
  Write(image, noise);
  const auto whole_file = std::filesystem::file_size(Path());
  const std::vector<std::uint8_t> head = testing_support::ReadBytes(Path());
  const std::uint32_t directory = head[4] | head[5] << 8 | head[6] << 16 | head[7] << 24;
  std::filesystem::resize_file(Path(), directory + 1);
  EXPECT_EQ(OpenMessage(), "dem.tif is truncated: its directory reaches byte " + std::to_string(directory + 2) +
                               " of a file of " + std::to_string(directory + 1) + " bytes");
  Write(image, noise);
  std::filesystem::resize_file(Path(), whole_file - 1);
  EXPECT_EQ(OpenMessage(), "dem.tif is truncated: its directory reaches byte " + std::to_string(whole_file) +
                               " of a file of " + std::to_string(whole_file - 1) + " bytes");

  // Cut short where the directory comes first (as cloud-optimised files have it): the cells are missing.
  image.directory_first = true;
  Write(image, noise);
  const auto whole = std::filesystem::file_size(Path());
  std::filesystem::resize_file(Path(), whole - 10);
  EXPECT_EQ(OpenMessage(), "dem.tif is truncated: its data reaches byte " + std::to_string(whole) + " of a file of " +
                               std::to_string(whole - 10) + " bytes");

  // Compressed data overwritten: decoding says so.
  Write(image, noise);
  {
    std::vector<std::uint8_t> bytes = testing_support::ReadBytes(Path());
    std::fill(bytes.end() - 200, bytes.end() - 100, 0xA5);
    testing_support::WriteText(Path(), std::string(bytes.begin(), bytes.end()));
  }
  {
    GeoTiffReader reader = Open();
    const std::string message = testing_support::MessageOf([&] { reader.DecodeBlock(0, 0); });
    EXPECT_TRUE(starts_with(message, "dem.tif is damaged: ")) << message;
  }

  // The file shrinks after it was opened: the mapping's pages are gone.
  image.directory_first = false;
  image.tile = 16;
  Write(image, noise);
  {
    GeoTiffReader reader = Open();
    std::filesystem::resize_file(Path(), 16);
    EXPECT_EQ(testing_support::MessageOf([&] { reader.DecodeBlock(1, 1); }), "dem.tif changed while it was read");
  }
}

// Tiles too large to decode at once are refused saying how to write the file again; the file holds no
// cells (a sparse file), as the refusal comes first.
TEST_F(GeoTiffFiles, TilesTooLargeToDecodeSayHowToRetile) {
  TiffImage image;
  image.ncols = image.nrows = 8208;
  image.tile = 8208;
  image.skipped_blocks = {0};
  image.directory_first = true;  // the block offsets written though no block is
  Write(image, {});
  EXPECT_EQ(OpenMessage(),
            "dem.tif has tiles of 8208 x 8208 cells, too large to decode (more than 268435456 bytes each); write it "
            "again in smaller tiles (512 x 512 cells, say) or in strips");
}

// libtiff reads a block whose bits are in reverse order whole: a block of more than 256 MiB stored is
// refused for that reason, not as damaged (the file is sparse past its cells).
TEST_F(GeoTiffFiles, HugeBlocksWithBitsInReverseOrderSayWhy) {
  TiffImage image;
  image.compression = kDeflate;
  image.bits_reversed = true;
  Write(image, Ramp(image));
  const std::vector<std::uint8_t> head = testing_support::ReadBytes(Path());
  const std::uint32_t offset = 8;  // libtiff writes the cells first
  constexpr std::uint32_t kStored = (std::uint32_t{256} << 20) + 1;
  testing_support::PatchTiffEntry(Path(), 279, 4, kStored);  // StripByteCounts, one LONG
  std::filesystem::resize_file(Path(), std::max<std::uintmax_t>(head.size(), offset + kStored));
  EXPECT_EQ(OpenMessage(),
            "dem.tif stores its bits in reverse order (FillOrder 2) in blocks of up to 268435457 bytes, which are "
            "read whole: more than 268435456; write it again in the usual fill order or in smaller strips");
}

// Blocks a sparse file gives no bytes are no-data; without a no-data value they cannot be read.
TEST_F(GeoTiffFiles, BlocksWithoutBytesAreNoData) {
  TiffImage image;
  image.ncols = 20;
  image.nrows = 20;
  image.tile = 16;
  image.compression = kDeflate;
  image.skipped_blocks = {1};
  image.nodata = "-5";
  Write(image, Ramp(image));
  GeoTiffReader reader = Open();
  EXPECT_FALSE(reader.Info().layout.in_place);
  const float* block = reader.DecodeBlock(1, 0);
  ExpectSameCells({block, block + 4 * 16}, std::vector<float>(4 * 16, -5));

  image.nodata.reset();
  Write(image, Ramp(image));
  GeoTiffReader without = Open();
  EXPECT_EQ(testing_support::MessageOf([&] { without.DecodeBlock(1, 0); }),
            "dem.tif is damaged: block 1 has no data and there is no no-data value");
}

// A strip too large to decode at once comes in runs of rows, read in order by one reader; a run above
// the last one read starts the strip again and is still right.
TEST_F(GeoTiffFiles, OneHugeStripIsReadAsRunsOfRows) {
  TiffImage image;
  image.ncols = 1100;
  image.nrows = 1000;
  image.compression = kDeflate;
  image.predictor = kFloatingPoint;
  const std::vector<double> samples = Ramp(image);
  Write(image, samples);
  const std::vector<float> expected = Singles(samples);
  GeoTiffReader reader = Open();
  const GeoTiffLayout& layout = reader.Info().layout;
  EXPECT_EQ(std::tuple(layout.rows_in_order, layout.in_place, layout.block_height, layout.blocks_down),
            std::tuple(true, false, kGeoTiffMaxBlockCells / 1100, std::int64_t{2}));
  ExpectSameCells(DecodeAll(reader), expected);
  const std::int64_t run = layout.block_height;  // the first run again, after the second
  const float* rows = reader.DecodeBlock(0, 0);
  ExpectSameCells({rows, rows + run * 1100}, std::vector<float>(expected.begin(), expected.begin() + run * 1100));
}

GeoTiffGridDescription GridToWrite() {
  GeoTiffGridDescription grid;
  grid.ncols = 300;
  grid.nrows = 270;
  grid.left = -10.5;
  grid.top = 60.25;
  grid.column_spacing = 0.5;
  grid.row_spacing = 0.25;
  grid.nodata = -9999;
  grid.epsg_code = 4269;
  return grid;
}

// The writer's tags as libtiff and libgeotiff read them, and its cells as the reader decodes them.
TEST_F(GeoTiffFiles, WrittenGridReadsBackWithItsTagsAndCells) {
  const GeoTiffGridDescription grid = GridToWrite();
  std::vector<float> cells(300 * 270);
  for (std::size_t i = 0; i < cells.size(); ++i)
    cells[i] = i % 97 == 0 ? -9999.0f : static_cast<float>(i) * 0.125f - 77;
  {
    GeoTiffWriter writer(Path(), grid);
    std::int64_t row = 0;
    for (const std::int64_t count : {1, 100, 169}) {  // bands of 256 rows filled across calls
      writer.WriteRows(row, count, cells.data() + row * 300);
      row += count;
    }
    EXPECT_THROW(writer.WriteRows(0, 1, cells.data()), std::logic_error);
    writer.Finish();
  }
  const testing_support::TiffTags tags = testing_support::ReadTiffTags(Path());
  EXPECT_EQ(std::tuple(tags.compression, tags.predictor, tags.bits, tags.format, tags.tile_width, tags.tile_height),
            std::tuple(kDeflate, kFloatingPoint, 32, kReal, 256, 256));
  EXPECT_EQ(tags.pixel_scale, (std::vector<double>{0.5, 0.25, 0}));
  EXPECT_EQ(tags.tiepoints, (std::vector<double>{0, 0, 0, -10.5, 60.25, 0}));
  EXPECT_EQ(tags.nodata, "-9999");
  EXPECT_EQ(tags.short_keys, (std::vector<std::pair<int, int>>{{1024, 2}, {1025, 1}, {2048, 4269}, {2054, 9102}}));

  GeoTiffReader reader = Open();
  const GeoTiffInfo& info = reader.Info();
  EXPECT_EQ(std::tuple(info.header.ncols, info.header.nrows, info.header.xllcorner, info.header.yllcorner,
                       info.header.cellsize, info.header.cell_height, info.header.nodata_single),
            std::tuple(300, 270, -10.5f, -7.25f, 0.5f, std::optional<float>(0.25f), std::optional<float>(-9999)));
  ExpectSameCells(DecodeAll(reader), cells);
}

TEST_F(GeoTiffFiles, WriterStoppedByTheFileSizeLimitRaisesDiskFull) {
  std::vector<float> noise(300 * 270);
  std::mt19937 random(11);
  for (float& v : noise) v = std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit lowered = old;
  lowered.rlim_cur = 100000;
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &lowered);
  int code = 0;
  std::string path;
  try {
    GeoTiffWriter writer(Path(), GridToWrite());
    writer.WriteRows(0, 270, noise.data());
    writer.Finish();
  } catch (const EInOutError& e) {
    code = e.ErrorCode();
    path = e.Path();
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(std::tuple(code, path), std::tuple(101, Path()));
}

}  // namespace
}  // namespace kavrimo
