// Interrupted Goode homolosine projection (code 9) on a sphere: twelve lobes, sine-curve between
// the latitudes +-40 deg 44' 11.8" and Mollweide poleward of them; map coordinates in metres from
// 0 N, 0 E. Positions in an interruption or off the map give -9999 for both results.
#include <cmath>

#include "projection/building_blocks.h"
#include "projection/dispatcher.h"
#include "projection/numerics.h"
#include "runtime/fp.h"

namespace kavrimo {

namespace {
constexpr long double kFailure = -9999.0L;
// y/R of the parallel where sine-curve and Mollweide parts meet: in the sine-curve part y/R is the
// latitude itself, here 40 deg 44' 11.8" (40 + 44/60 + 11.8/3600 degrees) in radians.
constexpr long double kSeamY = 0.710987989993L;
// Lobe boundaries in radians: -40, -100, -20, 80 degrees.
constexpr long double kWest40 = -0.698131700798L;
constexpr long double kWest100 = -1.74532925199L;
constexpr long double kWest20 = -0.349065850399L;
constexpr long double kEast80 = 1.3962634016L;
// Mollweide constants: the vertical shift of the Mollweide lobes that makes them meet the sine-curve
// at the seam (the Mollweide y/R of that latitude, sqrt 2 sin theta with 2 theta + sin 2 theta =
// pi sin phi, less kSeamY), sqrt 2, and 2 sqrt 2 / pi, each to 12 or 13 digits.
constexpr long double kMollweideShift = 0.0528035274542L;
constexpr long double kSqrt2 = 1.4142135623731L;
constexpr long double kMollweideX = 0.900316316158L;

bool is_mollweide(int region) {
  return region == 0 || region == 2 || region == 6 || region == 7 || region == 10 || region == 11;
}

// Both ends inclusive.
bool in_longitude_range(int region, long double lambda) {
  long double low = -pi_ten_places;
  long double high = pi_ten_places;
  switch (region) {
    // clang-format off
    case 0: case 1: high = kWest40; break;
    case 2: case 3: low = kWest40; break;
    case 4: case 6: high = kWest100; break;
    case 5: case 7: low = kWest100; high = kWest20; break;
    case 8: case 10: low = kWest20; high = kEast80; break;
    // clang-format on
    default: low = kEast80; break;  // 9, 11
  }
  return lambda >= low && lambda <= high;
}

void fail(Real48& Latitude, Real48& Longitude) {
  Latitude = Real48::Round(kFailure);
  Longitude = Real48::Round(kFailure);
}
}  // namespace

int goode_region(long double YOverR, long double XOverR) {
  if (YOverR >= kSeamY) return XOverR <= kWest40 ? 0 : 2;
  if (YOverR >= 0.0L) return XOverR <= kWest40 ? 1 : 3;
  const bool south_sine = YOverR >= -kSeamY;
  if (XOverR <= kWest100) return south_sine ? 4 : 6;
  if (XOverR <= kWest20) return south_sine ? 5 : 7;
  if (XOverR <= kEast80) return south_sine ? 8 : 10;
  return south_sine ? 9 : 11;
}

long double goode_central_meridian(int Region) {
  switch (Region) {
    // clang-format off
    case 0: case 1: return -1.74532925199L;    // -100
    case 2: case 3: return 0.523598775598L;    // 30
    case 4: case 6: return -2.79252680319L;    // -160
    case 5: case 7: return -1.0471975512L;     // -60
    case 8: case 10: return 0.349065850399L;   // 20
    case 9: case 11: return 2.44346095279L;    // 140
    // clang-format on
    default: return 0.0L;
  }
}

void goode_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader&, long double X, long double Y) {
  const long double r = sphere_radius;
  const int region = goode_region(Y / r, X / r);
  const long double lambda_c = goode_central_meridian(region);
  const long double x_shifted = X - r * lambda_c;

  long double phi = 0.0L;
  long double lambda = 0.0L;
  if (!is_mollweide(region)) {
    phi = Real48::Round(Y / r).Extended();
    lambda = wrap_longitude(lambda_c + fp::Div(x_shifted, r * std::cos(phi)));
  } else {
    const long double arg = (Y + sign_of(Y) * kMollweideShift * r) / (kSqrt2 * r);
    if (std::fabs(arg) > 1.0L) return fail(Latitude, Longitude);
    const long double theta = arc_sine(arg);
    lambda = lambda_c + fp::Div(x_shifted, kMollweideX * r * std::cos(theta));  // not wrapped
    if (lambda < -pi_ten_places) return fail(Latitude, Longitude);
    phi = arc_sine((std::sin(2.0L * theta) + 2.0L * theta) / pi_ten_places);
  }
  if (!in_longitude_range(region, lambda)) return fail(Latitude, Longitude);
  Latitude = Real48::Round(rad_to_deg(phi));
  Longitude = Real48::Round(rad_to_deg(lambda));
}

}  // namespace kavrimo
