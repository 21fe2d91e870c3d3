// Geographic coordinate systems by their EPSG code, looked up in PROJ's database: what an exported grid
// says about its datum (the GeoKeys of a GeoTIFF, the one-line text of a float grid's .prj file), and
// the angular unit and prime meridian a GeoTIFF's geographic code implies.
#pragma once

#include <string>

#include "runtime/errors.h"

namespace kavrimo {

// A code that names no geographic 2D coordinate system. The message names the code.
class ECoordinateSystemError : public Error {
 public:
  using Error::Error;
};

struct GeographicSystem {
  int code = 0;                              // its EPSG code
  std::string name;                          // "WGS 84"
  std::string esri_wkt;                      // one line, no line break: GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",...]]
  double unit_radians = 0;                   // the size of its angular unit in radians (a degree: pi / 180)
  std::string unit_name;                     // the name of its angular unit: "degree", "grad"
  std::string prime_meridian = "Greenwich";  // the name of its prime meridian
  double prime_meridian_radians = 0;         // its prime meridian's longitude east of Greenwich, in radians
};

// Looks up EPSG code in PROJ's database and returns its name, its ESRI well-known text, its angular
// unit and its prime meridian. Raises ECoordinateSystemError "EPSG code <code> is not in the coordinate system
// database" for a code PROJ does not know (0 and negative codes included) and "EPSG code <code> names a <kind>, not a
// geographic 2D coordinate system" for any other kind of object (projected, geocentric, geographic 3D,
// vertical, ...). The database is asked once per code and process: later calls give (or raise) the
// first answer. Safe to call from several threads. PROJ's own log is silenced.
GeographicSystem LookUpGeographicSystem(int code);

// The name of the prime meridian of EPSG code ("Jakarta" for 8908), or "" when PROJ does not know it.
std::string LookUpPrimeMeridian(int code);

// True when unit_radians is the size of a degree (to within rounding in its last digits).
bool IsDegree(double unit_radians);

// Refuses a system whose coordinates are not those of an image (degrees east of Greenwich and north):
// ECoordinateSystemError "EPSG code <code> (<name>) is in <unit>s, not degrees" or "EPSG code <code>
// (<name>) counts longitudes from <meridian>, not Greenwich".
void CheckDegreesFromGreenwich(const GeographicSystem& system);

}  // namespace kavrimo
