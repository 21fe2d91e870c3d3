// Pixel position to latitude and longitude: picks the inverse projection by the header's code.
#include "projection/dispatcher.h"

namespace kavrimo {

void pixel_to_latlon(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, Real48 Row, Real48 Column) {
  const long double x = (Column.Extended() - Header.RefColumn.Extended()) * Header.ColumnSpacing.Extended();
  const long double y = (Header.RefRow.Extended() - Row.Extended()) * Header.RowSpacing.Extended();
  switch (Header.Projection) {
    case kHammer: hammer_inverse(Latitude, Longitude, Header, x, y); break;
    case kGeographic: geographic_inverse(Latitude, Longitude, Header, x, y); break;
    case kLambertConic: lambert_conic_inverse(Latitude, Longitude, Header, x, y); break;
    case kGeostationary: geostationary_inverse(Latitude, Longitude, Header, x, y); break;
    case kLambertAzimuthal: lamaz_inverse(Latitude, Longitude, Header, x, y); break;
    case kAlbers: albers_inverse(Latitude, Longitude, Header, x, y); break;
    case kGoode: goode_inverse(Latitude, Longitude, Header, x, y); break;
    default:
      Latitude = Real48();
      Longitude = Real48();
      break;
  }
}

}  // namespace kavrimo
