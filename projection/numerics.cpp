// Shared numeric helpers of the projection routines.
#include "projection/numerics.h"

#include <cmath>

#include "runtime/fp.h"

namespace kavrimo {

long double deg_to_rad(long double d) { return d * deg_factor; }

long double rad_to_deg(long double r) { return r / deg_factor; }

long double tangent(long double a) { return fp::Div(std::sin(a), std::cos(a)); }

long double arc_sine(long double v) { return std::atan(fp::Div(v, fp::Sqrt(1.0L - v * v))); }

int sign_of(long double v) { return v >= 0.0L ? 1 : -1; }

long double wrap_longitude(long double lambda) {
  if (std::fabs(lambda) <= pi_ten_places) return lambda;
  return lambda - sign_of(lambda) * two_pi_ten_places;
}

long double power_of(long double base, long double exponent) {
  if (!(base > 0.0L)) return 0.0L;
  return fp::Exp(exponent * fp::Ln(base));
}

long double square(long double v) { return v * v; }

long double sine_squared(long double a) { return std::sin(a) * std::sin(a); }

long double conic_m(long double e, long double phi) {
  return fp::Div(std::cos(phi), fp::Sqrt(1.0L - square(e) * square(std::sin(phi))));
}

long double conic_t(long double e, long double phi) {
  const long double es = e * std::sin(phi);
  return fp::Div(tangent(pi_ten_places / 4.0L - phi / 2.0L), power_of(fp::Div(1.0L - es, 1.0L + es), e / 2.0L));
}

}  // namespace kavrimo
