// Latitude/longitude grid (projection code 3): map offsets are degrees added to the reference point.
#include "projection/dispatcher.h"

namespace kavrimo {

void geographic_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y) {
  // Neither value is wrapped or range checked.
  Latitude = Real48::Round(Header.RefLatitude.Extended() + Y);
  Longitude = Real48::Round(Header.RefLongitude.Extended() + X);
}

}  // namespace kavrimo
