// The geographic 2D coordinate systems that elevation models most often name, known without PROJ: a
// GeoTIFF naming one of them is read without opening PROJ's database, which costs a process more than
// reading a small grid does.
#pragma once

#include <optional>
#include <span>

#include "app/grid/coordinate_system.h"

namespace kavrimo {

// The system of EPSG code as LookUpGeographicSystem gives it (code, name, unit, unit name, prime meridian),
// but without its well-known text (esri_wkt is empty: only PROJ writes it), when code is one of
// CommonGeographicCodes(); nothing for any other code.
std::optional<GeographicSystem> CommonGeographicSystem(int code);

// The codes CommonGeographicSystem knows: all in degrees from Greenwich.
std::span<const int> CommonGeographicCodes();

}  // namespace kavrimo
