// Reading a GeoTIFF's georeference: its GeoKeys checked for latitude and longitude in degrees, and its
// placement (a cell size and one tie point, or a transformation without rotation) turned into the
// corner and spacings of a float grid's header.
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>

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

// The EPSG geographic coordinate system of code, when PROJ knows it.
std::optional<GeographicSystem> GeographicSystemOf(int code) {
  try {
    return LookUpGeographicSystem(code);
  } catch (const ECoordinateSystemError&) {
    return std::nullopt;  // not a geographic code PROJ knows: nothing to say about its unit or meridian
  }
}

std::string WithCode(const std::string& what, std::optional<unsigned short> code) {
  if (!code || *code == 0 || *code == tiff::kUserDefined) return what;
  return what + " EPSG:" + std::to_string(*code);
}

// A number of a georeference in a message: up to 15 significant digits, as typed numbers have.
std::string Number(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  return {text, result.ptr};
}

// A GeoKey of one short, when the keys hold it.
std::optional<unsigned short> ShortKey(GTIF* keys, geokey_t id) {
  unsigned short value = 0;
  if (GTIFKeyGetSHORT(keys, id, &value, 0, 1) == 1) return value;
  return std::nullopt;
}

}  // namespace

void GeoTiffReader::State::ReadGeoreference() {
  const tiff::GeoKeys keys(OpenGeoKeys());
  const bool named = CheckCoordinateSystem(keys.get());
  GeoTiffPlacement placement = ReadPlacement();
  if (ShortKey(keys.get(), GTRasterTypeGeoKey) == tiff::kRasterPixelIsPoint) {
    // The tie point is a cell's centre: the edges lie half a cell further out.
    placement.left -= placement.column_spacing / 2;
    placement.top += placement.row_spacing / 2;
  }
  if (!named) CheckDegrees(placement);
  PlaceHeader(placement);
}

// The GeoKeys, none when the file has no GeoKey directory; a directory libtiff dropped (stored with a
// type it does not take for one) or libgeotiff cannot read makes the file damaged.
GTIF* GeoTiffReader::State::OpenGeoKeys() {
  std::uint16_t count = 0;
  std::uint16_t* directory = nullptr;
  if (key_directory_type && TIFFGetField(tif, tiff::kGeoKeyDirectoryTag, &count, &directory) != 1) {
    Fail("is damaged: its GeoKeys cannot be read (their directory, tag " + std::to_string(tiff::kGeoKeyDirectoryTag) +
         ", is of type " + std::to_string(*key_directory_type) + ", not 3)");
  }
  tiff::GeoKeys keys(GTIFNewEx(tif, tiff::OnGeoKeyError, &messages));
  if (!keys || !messages.first_error.empty()) {
    Fail("is damaged: its GeoKeys cannot be read" +
         (messages.first_error.empty() ? std::string() : " (" + messages.first_error + ")"));
  }
  return keys.release();
}

// Refuses a model other than geographic, an angular unit other than the degree and a prime meridian
// other than Greenwich. True when the keys name a coordinate system (a model, a geographic or a
// projected one).
bool GeoTiffReader::State::CheckCoordinateSystem(GTIF* keys) {
  const std::optional<unsigned short> model = ShortKey(keys, GTModelTypeGeoKey);
  const std::optional<unsigned short> projected = ShortKey(keys, ProjectedCSTypeGeoKey);
  const std::optional<unsigned short> geographic = ShortKey(keys, GeographicTypeGeoKey);
  const auto refuse = [this](const std::string& what) { Fail("is not in latitude and longitude (" + what + ")"); };
  if (model == tiff::kModelTypeProjected || (!model && projected && *projected != 0)) {
    refuse(WithCode("projected coordinate system", projected));
  }
  if (model == tiff::kModelTypeGeocentric) refuse(WithCode("geocentric coordinate system", geographic));
  if (model && *model != tiff::kModelTypeGeographic) refuse("model type " + std::to_string(*model));
  const bool known = geographic && *geographic != 0 && *geographic != tiff::kUserDefined;
  const std::optional<GeographicSystem> system = known ? GeographicSystemOf(*geographic) : std::nullopt;
  if (const std::optional<unsigned short> unit = ShortKey(keys, GeogAngularUnitsGeoKey)) {
    if (*unit == tiff::kUserDefined) {
      double radians = 0;
      if (GTIFKeyGetDOUBLE(keys, GeogAngularUnitSizeGeoKey, &radians, 0, 1) != 1 || !IsDegree(radians)) {
        refuse("an angular unit of " + ShortestText(radians) + " radians");
      }
    } else if (*unit != tiff::kUnitDegree && *unit != tiff::kUnitDegreeSupplier) {
      refuse("angular unit EPSG:" + std::to_string(*unit));
    }
  } else if (system && !IsDegree(system->unit_radians)) {
    refuse(WithCode("geographic coordinate system", geographic) + " in an angular unit other than the degree");
  }
  if (system && system->prime_meridian_radians != 0) {
    refuse(WithCode("geographic coordinate system", geographic) + " on the prime meridian of " +
           system->prime_meridian);
  }
  CheckPrimeMeridian(keys);
  return model || (geographic && *geographic != 0) || (projected && *projected != 0);
}

// Refuses user-defined keys that set a prime meridian other than Greenwich, by its code or its longitude.
void GeoTiffReader::State::CheckPrimeMeridian(GTIF* keys) {
  const auto refuse = [this](const std::string& what) { Fail("is not in latitude and longitude (" + what + ")"); };
  const std::optional<unsigned short> meridian = ShortKey(keys, GeogPrimeMeridianGeoKey);
  if (meridian && *meridian != 0 && *meridian != tiff::kUserDefined && *meridian != tiff::kGreenwich) {
    const std::string known = LookUpPrimeMeridian(*meridian);
    refuse("prime meridian EPSG:" + std::to_string(*meridian) + (known.empty() ? "" : ", " + known));
  }
  double longitude = 0;
  if (GTIFKeyGetDOUBLE(keys, GeogPrimeMeridianLongGeoKey, &longitude, 0, 1) == 1 && longitude != 0) {
    refuse("a prime meridian " + Number(longitude) + " degrees east of Greenwich");
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
  const auto unusable = [this](const std::string& why) {
    Fail("has a georeference that cannot be used (" + why + ")");
  };
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(left) || !std::isfinite(top)) {
    unusable("a value that is not a finite number");
  }
  if (sx == 0 || sy == 0) unusable("a cell size of 0");
  // A negative spacing mirrors the grid: west to the right or south at the top.
  if (sx < 0 || sy < 0) Fail("is rotated; only north-up grids can be converted");
  for (const double spacing : {sx, sy}) {
    if (static_cast<float>(spacing) == 0) {
      unusable("a cell size of " + Number(spacing) + ", which is 0 in single precision");
    }
  }
  const double bottom = top - static_cast<double>(info.header.nrows) * sy;
  const std::pair<const char*, double> stored[] = {
      {"column spacing", sx}, {"row spacing", sy}, {"left edge", left}, {"bottom edge", bottom}};
  for (const auto& [what, value] : stored) {
    if (std::fabs(value) > std::numeric_limits<float>::max()) {
      unusable(std::string("a ") + what + " of " + Number(value) + ", beyond the range of single precision");
    }
  }
  return placement;
}

// Refuses a placement whose edges do not lie within latitude -90 to 90 and longitude -180 to 360, for a
// file that names no coordinate system and so can be in degrees only by what its numbers say.
void GeoTiffReader::State::CheckDegrees(const GeoTiffPlacement& placement) {
  const double right = placement.left + static_cast<double>(info.header.ncols) * placement.column_spacing;
  const double bottom = placement.top - static_cast<double>(info.header.nrows) * placement.row_spacing;
  if (placement.left >= -180 && right <= 360 && bottom >= -90 && placement.top <= 90) return;
  Fail("names no coordinate system and its corners are not degrees (left " + Number(placement.left) + ", bottom " +
       Number(bottom) + ", right " + Number(right) + ", top " + Number(placement.top) + ")");
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
