// Where an attached image lies on the globe: pixel positions to longitude and latitude, the extremes
// of the four corner positions and the east-west width of one cell along the middle row.
#include <cmath>
#include <numbers>

#include "image/kel_img.h"
#include "projection/dispatcher.h"
#include "runtime/fp.h"

namespace kavrimo {
namespace {
// The value a corner gets where the projection assigns no result (as the interrupted projection
// gives for a position off its map).
constexpr long double kNoPosition = -9999.0L;
}  // namespace

void TKelImg::PixelToGeo(double column, double row, double& longitude, double& latitude) const {
  if (row < 0 || column < 0) {
    longitude = -1.0;
    latitude = -1.0;
    return;
  }
  const Real48 r = Real48::Round(row);
  const Real48 c = Real48::Round(column);
  Real48 lat = Real48::Round(kNoPosition);
  Real48 lon = Real48::Round(kNoPosition);
  pixel_to_latlon(lat, lon, memory_header_, r, c);
  longitude = lon.Value();
  latitude = lat.Value();
}

void TKelImg::ComputeDerivedValues() {
  const int rows = properties_.Rows;
  const int columns = properties_.Columns;

  const int mid = (rows - 1) / 2;
  double lon_a = 0, lat_a = 0, lon_b = 0, lat_b = 0;
  PixelToGeo(0, mid, lon_a, lat_a);
  PixelToGeo(columns - 1, mid, lon_b, lat_b);
  // 4000 / 36 km is one degree along the equator; the span runs from the first to the last column
  // position but is divided by the number of columns.
  const long double span_km = (static_cast<long double>(lon_b) - lon_a) * 4000.0L;
  const long double width = std::cos(lat_b * std::numbers::pi_v<long double> / 180.0L) *
                            fp::Div(span_km, static_cast<long double>(columns) * 36.0L);
  cell_width_km_ = fp::ToSingle(width);

  struct Corner {
    double column;
    double row;
    double longitude = 0;
    double latitude = 0;
  };
  Corner corners[] = {{0.0, 0.0}, {0.0, rows - 1.0}, {columns - 1.0, 0.0}, {columns - 1.0, rows - 1.0}};
  for (Corner& corner : corners) PixelToGeo(corner.column, corner.row, corner.longitude, corner.latitude);

  min_longitude_ = max_longitude_ = corners[0].longitude;
  min_latitude_ = max_latitude_ = corners[0].latitude;
  for (const Corner& corner : corners) {
    if (corner.longitude < min_longitude_) min_longitude_ = corner.longitude;
    if (corner.longitude > max_longitude_) max_longitude_ = corner.longitude;
    if (corner.latitude < min_latitude_) min_latitude_ = corner.latitude;
    if (corner.latitude > max_latitude_) max_latitude_ = corner.latitude;
  }
}

}  // namespace kavrimo
