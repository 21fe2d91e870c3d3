// Hammer equal-area projection (code 2), unscaled, inverted numerically by a two-dimensional secant
// iteration over the forward formulas.
#include <cmath>

#include "projection/building_blocks.h"
#include "projection/dispatcher.h"
#include "projection/numerics.h"
#include "runtime/fp.h"

namespace kavrimo {

void hammer_forward(long double& X, long double& Y, const TImageHeader& Header, long double Phi, long double Lambda) {
  const long double h = deg_to_rad(Lambda - Header.RefLongitude.Extended()) * 0.5L;
  const long double phi_r = deg_to_rad(Phi);
  const long double phi0_r = deg_to_rad(Header.RefLatitude.Extended());
  const long double d = fp::Sqrt(1.0L + std::cos(phi_r) * std::cos(h));
  X = fp::Div(std::sin(h) * std::cos(phi_r), d);
  Y = fp::Div(std::sin(phi_r), d) - fp::Div(std::sin(phi0_r), fp::Sqrt(std::cos(phi0_r) + 1.0L));
}

namespace {
constexpr long double kStartLatitude = -30.0L;
constexpr long double kStartLongitude = 36.5L;
constexpr long double kResidualTolerance = 1e-12L;
constexpr long double kMinDeterminant = 1e-11L;
constexpr int kMaxSteps = 100;
}  // namespace

// The estimate lives in the two Real48 outputs, so each new estimate is rounded to Real48 before it
// is used. The Jacobian is approximated by differencing against the previous estimate one
// coordinate at a time; the first step differences against latitude 0 and longitude 0.
void hammer_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y) {
  Latitude = Real48::Round(kStartLatitude);
  Longitude = Real48::Round(kStartLongitude);
  long double phi_prev = 0.0L;
  long double lambda_prev = 0.0L;
  long double xa = 0.0L;
  long double ya = 0.0L;
  hammer_forward(xa, ya, Header, Latitude.Extended(), Longitude.Extended());
  long double e1 = X - xa;
  long double e2 = Y - ya;
  int steps = 0;
  for (;;) {
    const long double residual = std::fabs(e1) + std::fabs(e2);
    fp::CheckOrdered(residual, kResidualTolerance);
    if (!(residual > kResidualTolerance)) break;
    if (++steps > kMaxSteps) break;

    const long double phi = Latitude.Extended();
    const long double lambda = Longitude.Extended();
    long double xb = 0.0L;
    long double yb = 0.0L;
    long double xc = 0.0L;
    long double yc = 0.0L;
    hammer_forward(xb, yb, Header, phi_prev, lambda);
    hammer_forward(xc, yc, Header, phi, lambda_prev);
    const long double d1 = xa - xb;
    const long double d2 = xa - xc;
    const long double d3 = ya - yb;
    const long double d4 = ya - yc;
    const long double det = d1 * d4 - d2 * d3;
    fp::CheckOrdered(det, kMinDeterminant);
    if (std::fabs(det) < kMinDeterminant) break;

    const long double phi_new = phi + fp::Div((phi - phi_prev) * (d4 * e1 - d2 * e2), det);
    const long double lambda_new = lambda + fp::Div((lambda - lambda_prev) * (d1 * e2 - d3 * e1), det);
    phi_prev = phi;
    lambda_prev = lambda;
    Latitude = Real48::Round(phi_new);
    Longitude = Real48::Round(lambda_new);

    hammer_forward(xa, ya, Header, Latitude.Extended(), Longitude.Extended());
    e1 = X - xa;
    e2 = Y - ya;
  }
}

}  // namespace kavrimo
