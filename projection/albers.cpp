// Albers equal-area conic (code 8) on the Clarke 1866 ellipsoid; map coordinates in metres.
// A degenerate cone (parallels with equal q, or a cone constant near zero) yields the origin.
#include <cmath>

#include "projection/dispatcher.h"
#include "projection/numerics.h"
#include "runtime/fp.h"

namespace kavrimo {

namespace {
constexpr long double kSemiMajorM = 6378206.4L;  // Clarke 1866
constexpr long double kMinQDifference = 1e-7L;
constexpr long double kMinConeConstant = 1e-6L;

long double albers_q(long double phi, long double e, long double es) {
  const long double sin_phi = std::sin(phi);
  return (1.0L - es) * (fp::Div(sin_phi, 1.0L - es * sine_squared(phi)) -
                        fp::Div(1.0L, 2.0L * e) * fp::Ln(fp::Div(1.0L - e * sin_phi, 1.0L + e * sin_phi)));
}

}  // namespace

void albers_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y) {
  const long double e = clarke_e;
  const long double es = e * e;
  const long double a = kSemiMajorM;
  const long double phi0 = deg_to_rad(Header.RefLatitude.Extended());
  const long double phi1 = deg_to_rad(Header.ProjParam1.Extended());
  const long double phi2 = deg_to_rad(Header.ProjParam2.Extended());

  const long double ms1 = conic_m(e, phi1);
  const long double ms2 = conic_m(e, phi2);
  const long double q0 = albers_q(phi0, e, es);
  const long double q1 = albers_q(phi1, e, es);
  const long double q2 = albers_q(phi2, e, es);

  const long double q_difference = std::fabs(q2 - q1);
  fp::CheckOrdered(q_difference, kMinQDifference);
  if (q_difference < kMinQDifference) {
    Latitude = Header.RefLatitude;
    Longitude = Header.RefLongitude;
    return;
  }
  const long double n = fp::Div(ms1 * ms1 - ms2 * ms2, q2 - q1);
  if (std::fabs(n) < kMinConeConstant) {
    Latitude = Header.RefLatitude;
    Longitude = Header.RefLongitude;
    return;
  }
  const long double c = ms1 * ms1 + n * q1;
  const long double rho0 = fp::Div(a * fp::Sqrt(c - n * q0), n);
  const long double rho = fp::Sqrt(X * X + square(rho0 - Y));
  const long double q = fp::Div(c - fp::Div(rho * rho * n * n, a * a), n);
  const long double qp = 1.0L - fp::Div(1.0L - es, 2.0L * e) * fp::Ln(fp::Div(1.0L - e, 1.0L + e));
  const long double beta = arc_sine(fp::Div(q, qp));

  // Authalic to geodetic latitude by its closed series.
  const long double e2 = power_of(e, 2.0L);
  const long double e4 = power_of(e, 4.0L);
  const long double e6 = power_of(e, 6.0L);
  const long double phi = beta + (e2 / 3.0L + 31.0L * e4 / 180.0L + 517.0L * e6 / 5040.0L) * std::sin(2.0L * beta) +
                          (23.0L * e4 / 360.0L + 251.0L * e6 / 3780.0L) * std::sin(4.0L * beta) +
                          (761.0L * e6 / 45360.0L) * std::sin(6.0L * beta);

  const long double theta = std::atan(fp::Div(X, rho0 - Y));
  const long double lambda = deg_to_rad(Header.RefLongitude.Extended()) + fp::Div(theta, n);  // not wrapped
  Latitude = Real48::Round(rad_to_deg(phi));
  Longitude = Real48::Round(rad_to_deg(lambda));
}

}  // namespace kavrimo
