// Geographic coordinate systems from PROJ's database: the names, the one-line ESRI text of a .prj file
// and the angular units of known codes (the texts' starts as PROJ writes ESRI's names for WGS 84 and
// NAD83), and every kind of code refused with its number.
#include "app/grid/coordinate_system.h"

#include "app/grid/common_geographic_systems.h"

#include <gtest/gtest.h>

#include <numbers>

#include "tests/support/files.h"

namespace kavrimo {
namespace {

TEST(CoordinateSystem, GeographicCodesGiveTheirNameOneLineEsriTextAndUnit) {
  const struct {
    int code;
    std::string name, text_start;
    double unit;
    std::string unit_name = "degree", meridian = "Greenwich";
  } cases[] = {
      {4326, "WGS 84",
       "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
       "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]",
       std::numbers::pi / 180},
      {4269, "NAD83", "GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\",", std::numbers::pi / 180},
      {4807, "NTF (Paris)", "GEOGCS[\"GCS_NTF_Paris\",", std::numbers::pi / 200, "grad", "Paris"},
      {4801, "Bern 1898 (Bern)", "GEOGCS[\"GCS_Bern_1898_Bern\",", std::numbers::pi / 180, "degree", "Bern"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const GeographicSystem system = LookUpGeographicSystem(c.code);
    EXPECT_EQ(std::tuple(system.code, system.name), std::tuple(c.code, c.name));
    EXPECT_EQ(system.esri_wkt.substr(0, c.text_start.size()), c.text_start);
    EXPECT_EQ(system.esri_wkt.find('\n'), std::string::npos);
    EXPECT_EQ(system.esri_wkt.back(), ']');
    EXPECT_NEAR(system.unit_radians, c.unit, 1e-15);
    EXPECT_EQ(IsDegree(system.unit_radians), c.code != 4807);
    EXPECT_EQ(std::tuple(system.unit_name, system.prime_meridian), std::tuple(c.unit_name, c.meridian));
    EXPECT_EQ(system.prime_meridian_radians == 0, c.meridian == "Greenwich");
  }
}

TEST(CoordinateSystem, CodesOfAnythingButAGeographic2DSystemAreRefusedByNumber) {
  const std::pair<int, std::string> cases[] = {
      {32633, "EPSG code 32633 names a projected coordinate system, not a geographic 2D coordinate system"},
      {4978, "EPSG code 4978 names a geocentric coordinate system, not a geographic 2D coordinate system"},
      {4979, "EPSG code 4979 names a geographic 3D coordinate system, not a geographic 2D coordinate system"},
      {5703, "EPSG code 5703 names a vertical coordinate system, not a geographic 2D coordinate system"},
      {0, "EPSG code 0 is not in the coordinate system database"},
      {-4326, "EPSG code -4326 is not in the coordinate system database"},
      {999999, "EPSG code 999999 is not in the coordinate system database"},
  };
  for (const auto& [code, message] : cases) {
    EXPECT_EQ(testing_support::MessageOf([code = code] { LookUpGeographicSystem(code); }), message);
  }
}

TEST(CoordinateSystem, CommonSystemsAreAsProjDescribesThemInDegreesFromGreenwich) {
  for (const int code : CommonGeographicCodes()) {
    SCOPED_TRACE(code);
    const GeographicSystem table = CommonGeographicSystem(code).value();
    const GeographicSystem proj = LookUpGeographicSystem(code);
    EXPECT_EQ(std::tuple(table.code, table.name, table.unit_radians, table.unit_name, table.prime_meridian,
                         table.prime_meridian_radians),
              std::tuple(proj.code, proj.name, proj.unit_radians, proj.unit_name, proj.prime_meridian,
                         proj.prime_meridian_radians));
    EXPECT_TRUE(IsDegree(table.unit_radians));
  }
  EXPECT_EQ(CommonGeographicCodes().size(), 14u);
  EXPECT_FALSE(CommonGeographicSystem(4807).has_value());
}

}  // namespace
}  // namespace kavrimo
