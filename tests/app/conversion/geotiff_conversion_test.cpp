// GeoTIFFs through the whole Convert command, against their float-grid twins (the same cells as singles,
// the same corner and cell size in the .hdr): byte-identical images in every layout the engine treats
// apart (cells in place, decoded into a scratch file, runs of rows of one huge strip, tiles larger than one
// thread's share of the block budget), for the grid's own
// range and a fixed one, on one thread and two; and what a failure leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/conversion/conversion.h"
#include "tests/support/geotiff_files.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// libtiff's compression codes.
constexpr std::uint16_t kNone = 1, kLzw = 5, kDeflate = 8, kPackBits = 32773, kLzma = 34925, kZstd = 50000;

struct TwinCase {
  const char* name;
  TiffImage image;
  // How a cell of the GeoTIFF becomes the twin's single; the GeoTIFF's no-data cells are the twin's -9999.
  float (*single)(double);
};

float AsSingle(double v) { return static_cast<float>(v); }

class GeoTiffConversionTest : public testing::Test {
 protected:
  std::string Convert(const std::string& input, const std::string& output, int threads,
                      std::optional<CellRange> range = std::nullopt) {
    ConversionRequest request{input, File(output), TemplatePath(), threads};
    request.fixed_range = range;
    host_ = {};
    return ConvertMessage(request, host_);
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  TempDir dir_;
  RecordingHost host_;
};

// Cells over the grid: a slope with noise across about -500 to 2500, some missing (no_data), in doubles.
std::vector<double> Field(const TiffImage& image, double missing_share, double no_data, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> noise(-20, 20);
  std::bernoulli_distribution missing(missing_share);
  std::vector<double> cells(static_cast<std::size_t>(image.ncols) * static_cast<std::size_t>(image.nrows));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const double v = static_cast<double>(i % 311) * 9.5 - 480 + noise(random);
    cells[i] = missing(random) ? no_data : v;
  }
  return cells;
}

TEST_F(GeoTiffConversionTest, TwinsGiveTheSameImageInEveryLayout) {
  const auto tiff = [](std::int32_t ncols, std::int32_t nrows, std::uint16_t bits, std::uint16_t format,
                       std::uint16_t compression, std::uint16_t predictor, std::uint32_t tile, std::uint32_t strip) {
    TiffImage image;
    image.ncols = ncols, image.nrows = nrows, image.bits = bits, image.format = format, image.compression = compression;
    image.predictor = predictor, image.tile = tile, image.rows_per_strip = strip;
    image.pixel_scale = {0.25, 0.25, 0};
    image.tiepoints = {0, 0, 0, 12.5, 10, 0};
    image.nodata = "-9999";
    return image;
  };
  const auto whole = [](double v) { return static_cast<float>(std::round(v)); };
  TwinCase cases[] = {
      {"real32 uncompressed tiles, read in place", tiff(300, 200, 32, 3, kNone, 1, 64, 0), AsSingle},
      {"real32 uncompressed strips of 7, read in place", tiff(300, 200, 32, 3, kNone, 1, 0, 7), AsSingle},
      {"real32 Deflate, floating-point predictor, tiles", tiff(300, 200, 32, 3, kDeflate, 3, 64, 0), AsSingle},
      {"real32 LZW strips of 1", tiff(300, 200, 32, 3, kLzw, 1, 0, 1), AsSingle},
      {"real64 ZSTD, floating-point predictor, one strip", tiff(300, 200, 64, 3, kZstd, 3, 0, 0), AsSingle},
      {"signed16 PackBits big-endian tiles", tiff(300, 200, 16, 2, kPackBits, 1, 32, 0), whole},
      {"signed32 LZMA horizontal predictor BigTIFF", tiff(300, 200, 32, 2, kLzma, 2, 0, 13), whole},
      {"real32 uncompressed big-endian, decoded", tiff(300, 200, 32, 3, kNone, 1, 48, 0), AsSingle},
      {"one Deflate strip of more than a million cells, rows in order", tiff(1100, 1000, 32, 3, kDeflate, 3, 0, 0),
       AsSingle},
      {"one Deflate strip, bits in reverse order, rows in order", tiff(1100, 1000, 32, 3, kDeflate, 3, 0, 0), AsSingle},
      {"real64 Deflate tiles of 2064 x 2064, more than 4194304 cells each",
       tiff(2080, 2064, 64, 3, kDeflate, 3, 2064, 0), AsSingle},
  };
  cases[5].image.big_endian = true;
  cases[6].image.bigtiff = true;
  cases[7].image.big_endian = true;
  cases[9].image.bits_reversed = true;
  for (const TwinCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> samples = Field(c.image, 0.05, -9999, 7);
    if (c.single == whole) {
      for (double& v : samples) v = std::round(v);
    }
    WriteTiff(File("g.tif"), c.image, samples);
    std::vector<float> cells(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) cells[i] = c.single(samples[i]);
    WriteGrid(File("twin"), c.image.ncols, c.image.nrows, cells, "NODATA_value -9999\n", false, 12.5f,
              static_cast<float>(10 - c.image.nrows * 0.25), 0.25f);
    for (const int threads : {1, 2}) {
      for (const std::optional<CellRange> range : {std::optional<CellRange>{}, std::optional<CellRange>{{900, -100}}}) {
        SCOPED_TRACE(std::to_string(threads) + (range ? " threads, fixed range" : " threads"));
        ASSERT_EQ(Convert(File("g.tif"), "g.IMG", threads, range), "");
        ASSERT_EQ(Convert(File("twin.flt"), "twin.IMG", threads, range), "");
        EXPECT_EQ(ReadBytes(File("g.IMG")), ReadBytes(File("twin.IMG")));
      }
    }
  }
  EXPECT_EQ(std::filesystem::exists(File("g.IMG")), true);
}

// A no-data tag of "nan" makes the NaN cells missing: the image is that of the twin whose missing cells
// are -9999. Spacings that differ make the twin an ASCII grid with dx and dy.
TEST_F(GeoTiffConversionTest, NotANumberNoDataAndUnequalSpacings) {
  TiffImage image;
  image.ncols = 90, image.nrows = 70, image.compression = kDeflate, image.predictor = 3, image.tile = 32;
  image.pixel_scale = {0.5, 0.25, 0};
  image.tiepoints = {0, 0, 0, -30, 40, 0};
  image.nodata = "NaN";
  const std::vector<double> samples = Field(image, 0.1, std::nan(""), 11);
  WriteTiff(File("n.tif"), image, samples);
  std::string text = "ncols 90\nnrows 70\nxllcorner -30\nyllcorner 22.5\ndx 0.5\ndy 0.25\nnodata_value -9999\n";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    text += std::isnan(samples[i]) ? std::string("-9999") : std::to_string(static_cast<float>(samples[i]));
    text += i % 90 == 89 ? "\n" : " ";
  }
  // The text's numbers are the singles' decimal forms with six places: the GeoTIFF gets them too.
  std::vector<double> rounded(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    rounded[i] = std::isnan(samples[i]) ? samples[i] : std::stod(std::to_string(static_cast<float>(samples[i])));
  }
  WriteTiff(File("n.tif"), image, rounded);
  WriteText(File("twin.asc"), text);
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    ASSERT_EQ(Convert(File("n.tif"), "n.IMG", threads), "");
    ASSERT_EQ(Convert(File("twin.asc"), "twin.IMG", threads), "");
    EXPECT_EQ(ReadBytes(File("n.IMG")), ReadBytes(File("twin.IMG")));
  }
}

// Without a no-data tag no cell is missing: a 0 or a -9999 is coded as any other value, as in the twin
// whose NODATA_value no single equals.
TEST_F(GeoTiffConversionTest, WithoutANoDataTagNoCellIsMissing) {
  TiffImage image;
  image.ncols = 80, image.nrows = 50, image.tile = 16;
  image.pixel_scale = {0.5, 0.5, 0};
  image.tiepoints = {0, 0, 0, 0, 25, 0};
  std::vector<double> samples = Field(image, 0.1, 0, 9);
  samples[7] = -9999;
  WriteTiff(File("z.tif"), image, samples);
  WriteGrid(File("twin"), 80, 50, std::vector<float>(samples.begin(), samples.end()), "NODATA_value 2147483647\n",
            false, 0, 0, 0.5f);
  ASSERT_EQ(Convert(File("z.tif"), "z.IMG", 1), "");
  ASSERT_EQ(Convert(File("twin.flt"), "twin.IMG", 1), "");
  EXPECT_EQ(ReadBytes(File("z.IMG")), ReadBytes(File("twin.IMG")));
}

// A NaN cell that is not missing stops the conversion where the twin stops, the bar at the same step;
// a damaged file stops it with a line naming the file. Nothing is written: an earlier image stays.
TEST_F(GeoTiffConversionTest, FailuresStopAsTheTwinsDoAndLeaveNothing) {
  TiffImage image;
  image.ncols = 100, image.nrows = 60, image.tile = 32;
  image.tiepoints = {0, 0, 0, 0, 15, 0};
  std::vector<double> samples = Field(image, 0, 0, 3);
  samples[static_cast<std::size_t>(45 * 100 + 70)] = std::nan("");  // row 45, column 70: tile (2, 1)
  samples[static_cast<std::size_t>(50 * 100 + 10)] = std::nan("");  // later in cell order, an earlier tile
  std::vector<float> cells(samples.begin(), samples.end());
  WriteGrid(File("twin"), 100, 60, cells, "", false, 0, 0, 0.5f);
  WriteText(File("out.IMG"), "earlier image");
  // Decoded (Deflate), and read in place (uncompressed): a fixed range codes in one pass.
  for (const std::uint16_t compression : {kDeflate, kNone}) {
    image.compression = compression, image.predictor = compression == kDeflate ? 3 : 1;
    WriteTiff(File("bad.tif"), image, samples);
    for (const int threads : {1, 2}) {
      for (const std::optional<CellRange> range : {std::optional<CellRange>{}, std::optional<CellRange>{{900, -100}}}) {
        SCOPED_TRACE(std::to_string(compression) + ", " + std::to_string(threads) +
                     (range ? " threads, fixed" : " threads"));
        EXPECT_EQ(Convert(File("twin.flt"), "out.IMG", threads, range), "Invalid floating point operation");
        const int twin_bar = host_.progress.back();
        EXPECT_EQ(Convert(File("bad.tif"), "out.IMG", threads, range), "Invalid floating point operation");
        EXPECT_EQ(host_.progress.back(), twin_bar);
      }
    }
  }
  image.compression = kDeflate;
  WriteTiff(File("cut.tif"), image, Field(image, 0, 0, 4));
  std::filesystem::resize_file(File("cut.tif"), std::filesystem::file_size(File("cut.tif")) / 2);
  const std::string message = Convert(File("cut.tif"), "out.IMG", 2);
  EXPECT_TRUE(message.starts_with(File("cut.tif") + " is ")) << message;
  EXPECT_EQ(ReadText(File("out.IMG")), "earlier image");
  EXPECT_EQ(ListFolder(dir_.Path()),
            (std::vector<std::string>{"bad.tif", "cut.tif", "out.IMG", "twin.flt", "twin.hdr"}));
}

}  // namespace
}  // namespace kavrimo
