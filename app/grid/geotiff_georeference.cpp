// Reading a GeoTIFF's georeference: its GeoKeys checked for latitude and longitude in degrees, and its
// placement (a cell size and one tie point, or a transformation without rotation) turned into the
// corner and spacings of a float grid's header.
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "app/grid/coordinate_system.h"
#include "app/grid/geotiff_reader_state.h"
#include "runtime/fp.h"
#include "runtime/number_text.h"

namespace kavrimo {
namespace {

// The values of a GeoTIFF tag of reals (empty when the image has none).
std::span<const double> Reals(TIFF* tif, ttag_t tag) {
  const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
  if (field == nullptr || !TIFFFieldPassCount(field)) return {};
  const double* values = nullptr;
  if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
    std::uint32_t count = 0;
    if (TIFFGetField(tif, tag, &count, &values) != 1 || values == nullptr) return {};
    return {values, count};
  }
  std::uint16_t count = 0;
  if (TIFFGetField(tif, tag, &count, &values) != 1 || values == nullptr) return {};
  return {values, count};
}

// The angular unit (in radians) of an EPSG geographic coordinate system, when PROJ knows the code; asked
// once per code and process.
std::optional<double> UnitOfGeographicCode(int code) {
  static std::mutex mutex;
  static std::map<int, std::optional<double>> known;
  const std::lock_guard lock(mutex);
  if (const auto found = known.find(code); found != known.end()) return found->second;
  std::optional<double> unit;
  try {
    unit = LookUpGeographicSystem(code).unit_radians;
  } catch (const ECoordinateSystemError&) {
    // Not a geographic code PROJ knows: nothing to say about its unit.
  }
  known.emplace(code, unit);
  return unit;
}

std::string WithCode(const std::string& what, std::optional<unsigned short> code) {
  if (!code || *code == 0 || *code == tiff::kUserDefined) return what;
  return what + " EPSG:" + std::to_string(*code);
}

// A GeoKey of one short, when the keys hold it.
std::optional<unsigned short> ShortKey(GTIF* keys, geokey_t id) {
  unsigned short value = 0;
  if (GTIFKeyGetSHORT(keys, id, &value, 0, 1) == 1) return value;
  return std::nullopt;
}

}  // namespace

void GeoTiffReader::State::ReadGeoreference() {
  tiff::GeoKeys keys(GTIFNewEx(tif, tiff::OnGeoKeyError, &messages));
  if (!keys || !messages.first_error.empty()) {
    Fail("is damaged: its GeoKeys cannot be read" +
         (messages.first_error.empty() ? std::string() : " (" + messages.first_error + ")"));
  }
  CheckCoordinateSystem(keys.get());
  GeoTiffPlacement placement = ReadPlacement();
  if (ShortKey(keys.get(), GTRasterTypeGeoKey) == tiff::kRasterPixelIsPoint) {
    // The tie point is a cell's centre: the edges lie half a cell further out.
    placement.left -= placement.column_spacing / 2;
    placement.top += placement.row_spacing / 2;
  }
  PlaceHeader(placement);
}

// Refuses a model other than geographic, and an angular unit other than the degree.
void GeoTiffReader::State::CheckCoordinateSystem(GTIF* keys) {
  const std::optional<unsigned short> model = ShortKey(keys, GTModelTypeGeoKey);
  const std::optional<unsigned short> projected = ShortKey(keys, ProjectedCSTypeGeoKey);
  const std::optional<unsigned short> geographic = ShortKey(keys, GeographicTypeGeoKey);
  const auto refuse = [this](const std::string& what) { Fail("is not in latitude and longitude (" + what + ")"); };
  if (model == tiff::kModelTypeProjected || (!model && projected && *projected != 0)) {
    refuse(WithCode("projected coordinate system", projected));
  }
  if (model == tiff::kModelTypeGeocentric) refuse(WithCode("geocentric coordinate system", geographic));
  if (model && *model != tiff::kModelTypeGeographic) refuse("model type " + std::to_string(*model));
  if (const std::optional<unsigned short> unit = ShortKey(keys, GeogAngularUnitsGeoKey)) {
    if (*unit == tiff::kUserDefined) {
      double radians = 0;
      if (GTIFKeyGetDOUBLE(keys, GeogAngularUnitSizeGeoKey, &radians, 0, 1) != 1 || !IsDegree(radians)) {
        refuse("an angular unit of " + ShortestText(radians) + " radians");
      }
    } else if (*unit != tiff::kUnitDegree && *unit != tiff::kUnitDegreeSupplier) {
      refuse("angular unit EPSG:" + std::to_string(*unit));
    }
  } else if (geographic && *geographic != 0 && *geographic != tiff::kUserDefined) {
    if (const std::optional<double> radians = UnitOfGeographicCode(*geographic); radians && !IsDegree(*radians)) {
      refuse(WithCode("geographic coordinate system", geographic) + " in an angular unit other than the degree");
    }
  }
}

// The left and top edges (of the tie point's cell, or of the cell a transformation places at 0, 0) and the
// spacings: finite, not 0, and north-up.
GeoTiffPlacement GeoTiffReader::State::ReadPlacement() {
  const std::span<const double> scale = Reals(tif, tiff::kPixelScaleTag);
  const std::span<const double> ties = Reals(tif, tiff::kTiepointTag);
  const std::span<const double> matrix = Reals(tif, tiff::kTransformationTag);
  if (ties.size() % 6 != 0) {
    Fail("is damaged: its tie points hold " + std::to_string(ties.size()) + " values, not six each");
  }
  if (ties.size() > 6 && (scale.size() >= 2 || matrix.size() < 16)) {
    Fail("is placed by " + std::to_string(ties.size() / 6) +
         " tie points; only one tie point with a cell size can be converted");
  }
  GeoTiffPlacement placement;
  if (scale.size() >= 2 && ties.size() == 6) {
    placement = {ties[3] - ties[0] * scale[0], ties[4] + ties[1] * scale[1], scale[0], scale[1]};
  } else if (matrix.size() >= 16) {
    // X = a i + b j + d, Y = e i + f j + h: north-up when b and e are 0 (and f negative, below).
    if (matrix[1] != 0 || matrix[4] != 0) Fail("is rotated; only north-up grids can be converted");
    placement = {matrix[3], matrix[7], matrix[0], -matrix[5]};
  } else {
    Fail("has no georeference");
  }
  const auto& [left, top, sx, sy] = placement;
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(left) || !std::isfinite(top)) {
    Fail("has a georeference that cannot be used (a value that is not a finite number)");
  }
  if (sx == 0 || sy == 0) Fail("has a georeference that cannot be used (a cell size of 0)");
  // A negative spacing mirrors the grid: west to the right or south at the top.
  if (sx < 0 || sy < 0) Fail("is rotated; only north-up grids can be converted");
  return placement;
}

// The header's corner and spacings, each rounded once from double to single.
void GeoTiffReader::State::PlaceHeader(const GeoTiffPlacement& placement) {
  const double bottom = placement.top - static_cast<double>(info.header.nrows) * placement.row_spacing;
  info.header.xllcorner = fp::ToSingle(placement.left);
  info.header.yllcorner = fp::ToSingle(bottom);
  info.header.cellsize = fp::ToSingle(placement.column_spacing);
  const float row_spacing = fp::ToSingle(placement.row_spacing);
  if (row_spacing != info.header.cellsize) info.header.cell_height = row_spacing;
}

}  // namespace kavrimo
