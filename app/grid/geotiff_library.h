// What the programs use of GeoTIFF and of coordinate systems: GeoTIFF grids read and written, and
// geographic systems looked up by their EPSG code.
//
// The code behind them needs libtiff, libgeotiff and PROJ, whose libraries (PROJ's database and
// network stack with them) take longer to load than most commands take to run. It is built as a module
// of its own, kavrimo_geotiff.so, which these functions open the first time one of them is called:
// programs and inputs that need neither GeoTIFF nor a coordinate system never load it. The module is
// looked for beside the executable (the build folder, a copy carried around as a folder), then in the
// library folder of an installed copy (../lib/<architecture>/kavrimo from its bin folder, as the build
// sets it).
//
// Each function raises what the code it calls raises (EGeoTiffError, ECoordinateSystemError,
// EInOutError, ...; see geotiff_grid.h, geotiff_writer.h and coordinate_system.h), and, when the module
// cannot be used, Error "The GeoTIFF module kavrimo_geotiff.so is missing (looked for in <folders>)"
// or "The GeoTIFF module <path> cannot be loaded: <why>". Safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/grid/coordinate_system.h"
#include "app/grid/geotiff_grid.h"
#include "app/grid/geotiff_writer.h"

namespace kavrimo {

inline constexpr const char* kGeoTiffModuleName = "kavrimo_geotiff.so";

// A GeoTIFF open for reading (GeoTiffReader's Info, DecodeBlock and FreeBuffers).
class GeoTiffDecoder {
 public:
  virtual ~GeoTiffDecoder() = default;
  virtual const GeoTiffInfo& Info() const = 0;
  virtual const float* DecodeBlock(std::int64_t block_x, std::int64_t block_y) = 0;
  virtual void FreeBuffers() = 0;
};

// A GeoTIFF being written (GeoTiffWriter's WriteRows and Finish).
class GeoTiffEncoder {
 public:
  virtual ~GeoTiffEncoder() = default;
  virtual void WriteRows(std::int64_t first_row, std::int64_t count, const float* cells) = 0;
  virtual void Finish() = 0;
};

// GeoTiffReader(path).
std::unique_ptr<GeoTiffDecoder> OpenGeoTiff(const std::string& path);
// GeoTiffWriter(path, grid).
std::unique_ptr<GeoTiffEncoder> CreateGeoTiff(const std::string& path, const GeoTiffGridDescription& grid);
// LookUpGeographicSystem(code).
GeographicSystem GeographicSystemOf(int code);

// What the module gives the program: its version, which must be the program's, and its functions.
struct GeoTiffModule {
  const char* version;
  std::unique_ptr<GeoTiffDecoder> (*open)(const std::string& path);
  std::unique_ptr<GeoTiffEncoder> (*create)(const std::string& path, const GeoTiffGridDescription& grid);
  GeographicSystem (*look_up)(int code);
};
// The module's one entry point, by this name.
inline constexpr const char* kGeoTiffModuleEntry = "KavrimoGeoTiffModule";

}  // namespace kavrimo
