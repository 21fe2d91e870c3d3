// Exporting images back to float grids: the header and cells against formulas written out here, every
// refusal with nothing written, and the round trip grid -> image -> grid -> image on random grids.
#include "app/export/image_export.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/conversion/conversion.h"
#include "app/grid/geotiff_grid.h"
#include "image/kel_img.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "runtime/real48.h"
#include "runtime/temporary_output.h"
#include "tests/support/child_process.h"
#include "tests/support/geotiff_files.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

std::string Shortest(long double value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, static_cast<double>(value)).ptr);
}

class ExportTest : public testing::Test {
 protected:
  // Converts a 3 x 2 grid to image.IMG.
  void MakeImage(const std::vector<float>& cells = {100, 1000, 2000, -50, -9999, 0}) {
    WriteGrid(File("src"), 3, 2, cells, "NODATA_value -9999\n", false, 12.5f, -40.25f, 0.25f);
    ASSERT_EQ(ConvertMessage({File("src.flt"), File("image.IMG"), TemplatePath(), 1}, host_), "");
  }
  std::string Export(const std::string& image, const std::string& grid, std::int32_t nodata = kDefaultExportNoData,
                     int code = kDefaultExportCode) {
    try {
      ExportImage(image, grid, nodata, code, host_);
    } catch (const Error& e) {
      return e.Message();
    }
    return "";
  }
  // Changes the image's bytes at offset.
  void Patch(std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> file = ReadBytes(File("image.IMG"));
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
    WriteText(File("image.IMG"), std::string(file.begin(), file.end()));
  }
  void PatchReal(std::size_t offset, double value) {
    const Real48::Bytes b = Real48::Round(value).ToBytes();
    Patch(offset, std::vector<std::uint8_t>(b.begin(), b.end()));
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

  TempDir dir_;
  RecordingHost host_;
};

// A reference point off the corner (RefColumn 2, RefRow 3) and pixels of every kind: data bytes,
// MaxValue 253, MissingValue 254 and no-data 255.
TEST_F(ExportTest, HeaderAndCellsFollowTheImagesFields) {
  MakeImage();
  PatchReal(132, 2);  // RefColumn
  PatchReal(138, 3);  // RefRow
  Patch(512, {0, 1, 253, 254, 255, 17});
  ASSERT_EQ(Export(File("image.IMG"), File("out"), -32768), "");
  const auto image = ReadBytes(File("image.IMG"));
  const long double latitude = Real48At(image, 120), longitude = Real48At(image, 126), spacing = Real48At(image, 144);
  const long double gain = Real48At(image, 171), offset = Real48At(image, 177);
  const auto header = ReadBytes(File("out.hdr"));
  EXPECT_EQ(std::string(header.begin(), header.end()),
            "ncols         3\nnrows         2\nxllcorner     " + Shortest(longitude - 2 * spacing) +
                "\nyllcorner     " + Shortest(latitude + 3 * spacing - 2 * spacing) + "\ncellsize      " +
                Shortest(spacing) + "\nNODATA_value  -32768\nbyteorder     LSBFIRST\n");
  EXPECT_EQ(Shortest(longitude - 2 * spacing), "12");  // 12.5 - 2 x 0.25
  EXPECT_EQ(Shortest(latitude + spacing), "-39.5");    // the top edge -39.75, 3 rows up and 2 down
  const auto data = ReadBytes(File("out.flt"));
  ASSERT_EQ(data.size(), 24u);
  std::vector<float> cells(6);
  std::memcpy(cells.data(), data.data(), data.size());
  // clang-format off
  const std::vector<float> expected = {static_cast<float>(offset), static_cast<float>(gain + offset),
                                       static_cast<float>(253 * gain + offset), -32768, -32768,
                                       // clang-format on
                                       static_cast<float>(17 * gain + offset)};
  EXPECT_EQ(cells, expected);
  // The coordinate system beside the grid, WGS 84 unless named: one line of ESRI well-known text.
  const std::string prj = ReadText(File("out.prj"));
  EXPECT_TRUE(prj.starts_with("GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\"")) << prj;
  EXPECT_EQ(prj.find('\n'), std::string::npos);
  EXPECT_EQ(ListFolder(dir_.Path()),
            (std::vector<std::string>{"image.IMG", "out.flt", "out.hdr", "out.prj", "src.flt", "src.hdr"}));

  // The same cells as a GeoTIFF: float32 tiles of 256, Deflate after the floating-point predictor, cell
  // areas tied at the upper-left corner, the no-data value, and GeoKeys of the code asked for (NAD83).
  ASSERT_EQ(Export(File("image.IMG"), File("out.TIF"), -32768, 4269), "");
  const TiffTags tags = ReadTiffTags(File("out.TIF"));
  EXPECT_EQ(std::tuple(tags.compression, tags.predictor, tags.bits, tags.format, tags.tile_width, tags.tile_height),
            std::tuple(8, 3, 32, 3, 256u, 256u));
  EXPECT_EQ(tags.pixel_scale, (std::vector<double>{static_cast<double>(spacing), static_cast<double>(spacing), 0}));
  EXPECT_EQ(tags.tiepoints, (std::vector<double>{0, 0, 0, 12, static_cast<double>(latitude + 3 * spacing), 0}));
  EXPECT_EQ(tags.nodata, "-32768");
  EXPECT_EQ(tags.short_keys, (std::vector<std::pair<int, int>>{{1024, 2}, {1025, 1}, {2048, 4269}, {2054, 9102}}));
  GeoTiffReader back(File("out.TIF"));
  const float* read = back.DecodeBlock(0, 0);
  EXPECT_EQ(std::vector<float>(read, read + 6), expected);
  EXPECT_EQ(ReadText(File("out.prj")), prj) << "a GeoTIFF export writes no .prj";
}

// Each refusal names its reason, and neither output file is written: earlier ones stay as they were.
TEST_F(ExportTest, RefusalsWriteNothing) {
  const std::string image = File("image.IMG");
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::string grid;
    std::int32_t nodata;
    std::string message;
    int code = kDefaultExportCode;
  } cases[] = {
      {"not an image", [&] { WriteText(image, std::string(600, 'j')); }, "out", -9999,
       image + " is not a valid Miradel image"},
      {"projection 5", [&] { Patch(23, {5}); }, "out", -9999,
       image + " has projection 5; only latitude/longitude images (projection 3) can be exported"},
      {"unequal spacings", [&] { PatchReal(150, 0.5); }, "out", -9999,
       image + " has a column spacing of 0.25 and a row spacing of 0.5; only images with square cells can be exported"},
      // clang-format off
      {"no rows", [&] { Patch(30, {0, 0}); }, "out", -9999, image + " holds no cells to export"},
      // clang-format on
      {"short file", [&] { ASSERT_EQ(::truncate(image.c_str(), 512 + 5), 0); }, "out", -9999,
       image + " holds 5 pixels; its header promises 6"},
      {"over the image by name", [&] { std::filesystem::create_hard_link(image, File("image.flt")); }, "image", -9999,
       "Cannot write over " + image + ", which this command reads"},
      {"over the image through a link", [&] { std::filesystem::create_symlink(image, File("link.hdr")); }, "link",
       -9999, "Cannot write over " + image + ", which this command reads"},
      // Gain 1 and Offset -10000 code byte 1 as -9999, which the grid would read as missing.
      {"a cell equal to no-data",
       [&] {
         PatchReal(171, 1);
         PatchReal(177, -10000);
         Patch(512, {1});
       },
       "out", -9999, "Byte 1 of " + image + " codes -9999, the no-data value"},
      {"no-data that no single holds", [] {}, "out", 16777217,
       "16777217 is no whole number that a single holds exactly"},
      // A GRID that names a folder would get the hidden pair .hdr and .flt.
      {"GRID a folder by its slash", [] {}, "grids/", -9999, File("grids/") + " is not a regular file"},
      {"GRID the current folder", [] {}, ".", -9999, File(".") + " is not a regular file"},
      {"GRID the folder above", [] {}, "..", -9999, File("..") + " is not a regular file"},
      {"GRID an existing folder", [&] { std::filesystem::create_directory(File("sub")); }, "sub", -9999,
       File("sub") + " is not a regular file"},
      {"cell size 0", [&] { PatchReal(144, 0), PatchReal(150, 0); }, "out", -9999,
       image + " has a cell size of 0; only images with a positive cell size can be exported"},
      {"negative cell size", [&] { PatchReal(144, -0.5), PatchReal(150, -0.5); }, "out", -9999,
       image + " has a cell size of -0.5; only images with a positive cell size can be exported"},
      // 253 x 2^121 lies beyond the largest single.
      {"a cell beyond the single range",
       [&] {
         PatchReal(171, std::ldexp(1.0, 121));
         PatchReal(177, 0);
         Patch(512, {253});
       },
       "out", -9999,
       "Byte 253 of " + image + " codes " + Shortest(253 * std::ldexp(1.0L, 121)) +
           " (byte x Gain + Offset), too large for a single"},
      {"missing image", [&] { std::filesystem::remove(image); }, "out", -9999, "File not found"},
      // The image's coordinates are degrees from Greenwich: a grid in grads or on another meridian would lie.
      {"a system in grads", [] {}, "out", -9999, "EPSG code 4807 (NTF (Paris)) is in grads, not degrees", 4807},
      {"a system on Bern", [] {}, "out.tif", -9999,
       "EPSG code 4801 (Bern 1898 (Bern)) counts longitudes from Bern, not Greenwich", 4801}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.Path());
    std::filesystem::create_directories(dir_.Path());
    MakeImage();
    WriteText(File("out.hdr"), "earlier header");
    c.prepare();
    const std::vector<std::string> before = ListFolder(dir_.Path());
    EXPECT_EQ(Export(image, File(c.grid), c.nodata, c.code), c.message);
    EXPECT_EQ(ListFolder(dir_.Path()), before);
    EXPECT_EQ(ReadText(File("out.hdr")), "earlier header");
  }
}

// Grids of ordinary values, from 1e-30 to 1e30 in magnitude, of either sign, spread over 10^-8 to once
// their magnitude, with no-data cells and placed anywhere: converted, exported (as a float grid, and as a
// GeoTIFF) and converted again, the second image is the first, header and pixels.
TEST_F(ExportTest, RoundTripGivesBackTheFirstImage) {
  std::mt19937 random(31);
  std::uniform_real_distribution<double> exponent(-30, 30), unit(-1, 1);
  std::uniform_int_distribution<int> side(1, 60), spread(0, 8);
  std::bernoulli_distribution missing(0.1);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const double centre = std::pow(10.0, exponent(random)) * (round % 3 == 0 ? -1 : 1);
    const double width = std::pow(10.0, -spread(random));
    const int ncols = side(random), nrows = side(random);
    std::vector<float> cells(static_cast<std::size_t>(ncols * nrows));
    for (float& v : cells) v = missing(random) ? -9999.0f : static_cast<float>(centre * (1 + width * unit(random)));
    const auto cellsize = static_cast<float>(std::pow(2.0, -side(random) % 12));
    WriteGrid(File("src"), ncols, nrows, cells, "NODATA_value -9999\n", false, static_cast<float>(unit(random) * 180),
              static_cast<float>(unit(random) * 60), cellsize);
    ASSERT_EQ(ConvertMessage({File("src.flt"), File("first.IMG"), TemplatePath(), 1}, host_), "");
    for (const char* back : {"back.flt", "back.tif"}) {
      SCOPED_TRACE(back);
      ASSERT_EQ(Export(File("first.IMG"), File(back)), "");
      ASSERT_EQ(ConvertMessage({File(back), File("second.IMG"), TemplatePath(), 1}, host_), "");
      ASSERT_EQ(ReadBytes(File("second.IMG")), ReadBytes(File("first.IMG")));
    }
  }
}

// The files of one export are put in place together: a signal raised between the first and the next
// (through the commit's test seam) waits until all are, then ends the process as interrupted.
TEST_F(ExportTest, SignalBetweenTheCommitsOfOneExportWaitsForTheLast) {
  MakeImage();
  for (const char* extension : {".hdr", ".flt", ".prj"}) WriteText(File(std::string("grid") + extension), "earlier");
  const std::string report = InChild(
      [&] {
        InstallInterruptHandlers();
        TemporaryOutput::ObserveCommitsForTests([](const std::string&) { ::raise(SIGTERM); });
        return Export(File("image.IMG"), File("grid"));
      },
      false, 20);
  EXPECT_EQ(report, "child failed: exit " + std::to_string(128 + SIGTERM) + " ");
  for (const char* extension : {".hdr", ".flt", ".prj"}) {
    EXPECT_NE(ReadText(File(std::string("grid") + extension)), "earlier") << extension;
  }
}

}  // namespace
}  // namespace kavrimo
