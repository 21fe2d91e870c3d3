// The GeoTIFF module as the programs use it: opened on first use only (a float grid's conversion maps
// none of GeoTIFF's libraries), and errors raised inside it caught in the program as the very types
// the program knows, with their texts. This binary links none of the module's code, as the programs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

#include "app/grid/geotiff_library.h"
#include "tests/support/child_process.h"
#include "tests/support/grid_files.h"

namespace kavrimo {
namespace {

using namespace testing_support;

// The libraries of the module that /proc/self/maps shows mapped, in this order, separated by blanks.
std::string MappedModuleLibraries() {
  std::ifstream maps("/proc/self/maps");
  const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  std::string found;
  for (const char* library : {"kavrimo_geotiff.so", "libgeotiff", "libproj", "libtiff"}) {
    if (text.find(library) != std::string::npos) found += std::string(found.empty() ? "" : " ") + library;
  }
  return found;
}

TEST(GeoTiffModule, OpenedOnFirstUseOnly) {
  if (!MappedModuleLibraries().empty()) {
    // A test before this one opened the module in this process: this one runs alone in a fresh copy.
    EXPECT_EQ(InFreshProgram({"--gtest_filter=GeoTiffModule.OpenedOnFirstUseOnly"}), "exit 0");
    return;
  }
  const TempDir dir;
  EXPECT_EQ(InChild([&] {
              std::string seen = "at start: " + MappedModuleLibraries();
              WriteGrid(dir.File("dem"), 3, 2, {1, 2, 3, 4, 5, 6});
              RecordingHost host;
              const std::string message = ConvertMessage({dir.File("dem"), dir.File("dem.IMG"), TemplatePath()}, host);
              seen += "; float grid converted (" + message + "): " + MappedModuleLibraries();
              auto writer = CreateGeoTiff(
                  dir.File("g.tif"),
                  {.ncols = 2, .nrows = 1, .column_spacing = 1, .row_spacing = 1, .nodata = {}, .epsg_code = 4326});
              const float cells[] = {1, 2};
              writer->WriteRows(0, 1, cells);
              writer->Finish();
              seen += "; GeoTIFF written: " + MappedModuleLibraries();
              return seen;
            }),
            "at start: ; float grid converted (): ; GeoTIFF written: kavrimo_geotiff.so libgeotiff libproj libtiff");
}

TEST(GeoTiffModule, ErrorsRaisedInTheModuleKeepTheirTypesAndTexts) {
  const TempDir dir;
  WriteText(dir.File("text.tif"), "not a TIFF");
  try {
    OpenGeoTiff(dir.File("text.tif"));
    ADD_FAILURE() << "no error";
  } catch (const EGeoTiffError& e) {
    EXPECT_EQ(&typeid(e), &typeid(EGeoTiffError));  // one type identity in the process
    EXPECT_EQ(e.Message(), dir.File("text.tif") + " is not a TIFF file");
  }
  try {
    OpenGeoTiff(dir.File("missing.tif"));
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::tuple(e.ErrorCode(), e.Path()), std::tuple(2, dir.File("missing.tif")));
  }
  try {
    GeographicSystemOf(3857);
    ADD_FAILURE() << "no error";
  } catch (const ECoordinateSystemError& e) {
    EXPECT_EQ(&typeid(e), &typeid(ECoordinateSystemError));
    EXPECT_EQ(e.Message(), "EPSG code 3857 names a projected coordinate system, not a geographic 2D coordinate system");
  }
  EXPECT_THROW(CreateGeoTiff(dir.File("bad.tif"), {}), std::invalid_argument);
}

// What the module writes, it reads back: cells, georeference and the coordinate system's lookup.
TEST(GeoTiffModule, WrittenGridsReadBack) {
  const TempDir dir;
  auto writer = CreateGeoTiff(dir.File("g.tif"), {.ncols = 3,
                                                  .nrows = 2,
                                                  .left = 10,
                                                  .top = 50,
                                                  .column_spacing = 0.5,
                                                  .row_spacing = 0.5,
                                                  .nodata = {},
                                                  .epsg_code = 4326});
  const float cells[] = {1, 2, 3, 4, 5, 6};
  writer->WriteRows(0, 2, cells);
  writer->Finish();
  const auto reader = OpenGeoTiff(dir.File("g.tif"));
  const GridHeader& header = reader->Info().header;
  EXPECT_EQ(std::tuple(header.ncols, header.nrows, header.xllcorner, header.yllcorner, header.cellsize),
            std::tuple(3, 2, 10.0f, 49.0f, 0.5f));
  const float* block = reader->DecodeBlock(0, 0);
  EXPECT_EQ(std::vector<float>(block, block + 6), std::vector<float>(cells, cells + 6));
  EXPECT_EQ(GeographicSystemOf(4326).name, "WGS 84");
}

}  // namespace
}  // namespace kavrimo
