// Lambert azimuthal equal-area projection (code 6) on a sphere, any aspect; map coordinates in metres.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "projection/dispatcher.h"
#include "projection/numerics.h"
#include "runtime/errors.h"
#include "runtime/fp.h"

namespace kavrimo {

namespace {
constexpr long double kCentreTolerance = 1e-10L;  // metres

std::atomic<std::FILE*> g_report_stream{nullptr};  // null: standard output

// The one report of the routine; a failed write is an input/output error.
void report_position_rejected() {
  std::FILE* stream = g_report_stream.load();
  if (stream == nullptr) stream = stdout;
  errno = 0;
  if (std::fputs("Error in lamaz_inverse\n", stream) == EOF || std::fflush(stream) == EOF) {
    const int code = errno != 0 ? errno : EIO;
    std::clearerr(stream);
    throw EInOutError(code);
  }
}
}  // namespace

void SetProjectionReportStream(std::FILE* stream) { g_report_stream.store(stream); }

// A position farther than 2R from the centre is reported on standard output and leaves both results
// unassigned. Exactly 2R raises EZeroDivide. Every arctangent is of a quotient, so a position where
// c < 0, i.e. more than 90 degrees of longitude from the centre (on the equator: more than 90 degrees
// of arc; with a pole centre: the half beyond the pole), gets a longitude 180 degrees off its true
// one. Latitude and longitude in degrees.
void lamaz_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y) {
  const long double phi0 = deg_to_rad(Header.RefLatitude.Extended());
  const long double lambda0 = deg_to_rad(Header.RefLongitude.Extended());
  const long double sin_phi0 = std::sin(phi0);
  const long double cos_phi0 = std::cos(phi0);

  const long double rho = fp::Sqrt(X * X + Y * Y);
  const long double t = fp::Div(rho, sphere_radius * 2.0L);
  if (t > 1.0L) {
    report_position_rejected();
    return;
  }
  const long double z = 2.0L * arc_sine(t);
  const long double sin_z = std::sin(z);
  const long double cos_z = std::cos(z);

  long double phi = phi0;
  long double lambda = lambda0;
  if (std::fabs(rho) > kCentreTolerance) {
    phi = Real48::Round(arc_sine(sin_phi0 * cos_z + fp::Div(cos_phi0 * sin_z * Y, rho))).Extended();
    // c = cos z - sin phi0 sin phi, written in the form that needs no cancellation: taken as the
    // difference, the rounding of phi swamps c near a pole centre (cos phi0 about 3e-13 at 90
    // degrees) and the longitude turns to noise.
    const long double c = cos_phi0 * (cos_phi0 * cos_z - sin_phi0 * fp::Div(sin_z * Y, rho));
    if (c == 0.0L) {
      lambda = wrap_longitude(lambda0 + std::atan(phi0 >= 0.0L ? fp::Div(X, -Y) : fp::Div(X, Y)));
    } else {
      lambda = wrap_longitude(lambda0 + std::atan(fp::Div(X * sin_z * cos_phi0, c * rho)));
    }
  }
  Latitude = Real48::Round(rad_to_deg(phi));
  Longitude = Real48::Round(rad_to_deg(lambda));
}

}  // namespace kavrimo
