// Lambert conformal conic with two standard parallels (code 4) on the Clarke 1866 ellipsoid;
// map coordinates in kilometres.
#include <cmath>

#include "projection/building_blocks.h"
#include "projection/dispatcher.h"
#include "projection/numerics.h"
#include "runtime/fp.h"

namespace kavrimo {

namespace {
constexpr long double kSemiMajorKm = 6378.2064L;   // Clarke 1866
constexpr long double kLatitudeTolerance = 1e-5L;  // radians
constexpr int kMaxLatitudeSteps = 15;
}  // namespace

void lambert_conic_constants(long double& N, long double& F, long double& Rho0, long double Phi0, long double Phi1,
                             long double Phi2, long double E) {
  const long double phi0 = deg_to_rad(Phi0);
  const long double phi1 = deg_to_rad(Phi1);
  const long double phi2 = deg_to_rad(Phi2);
  const long double t0 = conic_t(E, phi0);
  const long double t1 = conic_t(E, phi1);
  const long double t2 = conic_t(E, phi2);
  const long double m1 = conic_m(E, phi1);
  const long double m2 = conic_m(E, phi2);
  N = fp::Div(fp::Ln(m1) - fp::Ln(m2), fp::Ln(t1) - fp::Ln(t2));
  F = fp::Div(m1, N * power_of(t1, N));
  Rho0 = kSemiMajorKm * F * power_of(t0, N);
}

void lambert_conic_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X,
                           long double Y) {
  long double n = 0.0L;
  long double f = 0.0L;
  long double rho0 = 0.0L;
  lambert_conic_constants(n, f, rho0, Header.RefLatitude.Extended(), Header.ProjParam1.Extended(),
                          Header.ProjParam2.Extended(), clarke_e);
  const long double e = clarke_e;
  const long double rho = sign_of(n) * fp::Sqrt(X * X + square(rho0 - Y));
  const long double t = power_of(fp::Div(rho, kSemiMajorKm * f), fp::Div(1.0L, n));
  const long double theta = std::atan(fp::Div(X, rho0 - Y));
  Longitude = Real48::Round(rad_to_deg(wrap_longitude(deg_to_rad(Header.RefLongitude.Extended()) + fp::Div(theta, n))));

  // Conformal to geodetic latitude by fixed-point iteration; the last value stands even when the
  // tolerance was not met.
  long double phi = half_pi_ten_places - 2.0L * std::atan(t);
  for (int step = 1; step <= kMaxLatitudeSteps; ++step) {
    const long double phi_prev = phi;
    const long double es = e * std::sin(phi_prev);
    phi = half_pi_ten_places - 2.0L * std::atan(t * power_of(fp::Div(1.0L - es, 1.0L + es), e / 2.0L));
    const long double change = std::fabs(phi_prev - phi);
    fp::CheckOrdered(change, kLatitudeTolerance);
    if (change < kLatitudeTolerance) break;
  }
  Latitude = Real48::Round(rad_to_deg(phi));
}

}  // namespace kavrimo
