// Shared constants and small numeric helpers of the projection routines.
//
// Angles are radians unless a name says degrees. Every constant holds exactly the decimal value
// written here; several are shorter than full precision and the projection results depend on that.
// No helper tests its arguments: an argument outside a helper's domain makes the arithmetic fail,
// which raises EZeroDivide / EInvalidOp (runtime/fp.h) and ends the projection call.
#pragma once

namespace kavrimo {

inline constexpr long double deg_factor = 0.01745329251994L;  // degrees to radians, and back by division
inline constexpr long double pi_ten_places = 3.1415926536L;   // pi to ten decimal places, slightly above pi
inline constexpr long double two_pi_ten_places = 6.2831853072L;
inline constexpr long double half_pi_ten_places = 1.5707963268L;
inline constexpr long double sphere_radius = 6370997.0L;  // metres; sphere of the azimuthal and Goode maps
inline constexpr long double clarke_e = 0.08227185L;      // eccentricity of the Clarke 1866 ellipsoid

// d degrees times deg_factor.
long double deg_to_rad(long double d);
// r radians divided by deg_factor.
long double rad_to_deg(long double r);
// sin a / cos a.
long double tangent(long double a);
// arctan(v / sqrt(1 - v*v)), in (-pi/2, pi/2). |v| = 1 raises EZeroDivide, |v| > 1 EInvalidOp.
long double arc_sine(long double v);
// +1 for v >= 0 (either zero included), otherwise -1.
int sign_of(long double v);
// lambda unchanged when |lambda| <= pi_ten_places, otherwise shifted once by two_pi_ten_places towards zero
// (a value beyond 3 pi_ten_places stays out of range).
long double wrap_longitude(long double lambda);
// base^exponent as exp(exponent * ln base) for base > 0; 0 for base <= 0. Raises EOverflow when the
// result exceeds the long double range.
long double power_of(long double base, long double exponent);
long double square(long double v);
// sin a * sin a.
long double sine_squared(long double a);
// Conic quantity m: cos phi / sqrt(1 - e^2 sin^2 phi); eccentricity first.
long double conic_m(long double e, long double phi);
// Conic quantity t: tangent(pi_ten_places/4 - phi/2) / ((1 - e sin phi) / (1 + e sin phi))^(e/2);
// eccentricity first.
long double conic_t(long double e, long double phi);

}  // namespace kavrimo
