// What the programs check of a geographic coordinate system once it is looked up: plain arithmetic on
// what the lookup found, without the GeoTIFF module.
#include <cmath>
#include <numbers>

#include "app/grid/coordinate_system.h"

namespace kavrimo {

bool IsDegree(double unit_radians) {
  constexpr double kDegree = std::numbers::pi / 180;
  return std::fabs(unit_radians - kDegree) <= 1e-12 * kDegree;
}

void CheckDegreesFromGreenwich(const GeographicSystem& system) {
  const std::string named = "EPSG code " + std::to_string(system.code) + " (" + system.name + ")";
  if (!IsDegree(system.unit_radians)) {
    throw ECoordinateSystemError(named + " is in " + system.unit_name + "s, not degrees");
  }
  if (system.prime_meridian_radians != 0) {
    throw ECoordinateSystemError(named + " counts longitudes from " + system.prime_meridian + ", not Greenwich");
  }
}

}  // namespace kavrimo
