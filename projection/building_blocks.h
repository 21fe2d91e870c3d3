// Building blocks of the inverse projections that are useful on their own (forward formulas, cone
// constants, the Goode region table). The public entry points are in projection/dispatcher.h.
#pragma once

#include "projection/image_header.h"

namespace kavrimo {

// Unscaled Hammer forward projection about (RefLatitude, RefLongitude) of Header: Phi, Lambda in
// degrees; X = abscissa / (2 sqrt 2), Y = ordinate / sqrt 2 shifted so that the reference point has
// Y = 0 (unit sphere). Raises EZeroDivide on the antipodal meridian at the equator.
void hammer_forward(long double& X, long double& Y, const TImageHeader& Header, long double Phi, long double Lambda);

// Cone constants of the Lambert conformal conic on an ellipsoid of eccentricity E with semi-major
// axis 6378.2064 km: cone constant N, F, and Rho0 (km, radius of the origin's parallel). Phi0, Phi1,
// Phi2 in degrees. Equal standard parallels raise EInvalidOp (0/0).
void lambert_conic_constants(long double& N, long double& F, long double& Rho0, long double Phi0, long double Phi1,
                             long double Phi2, long double E);

// Goode homolosine region (0 to 11) of a map position given as y/R and x/R (argument order y first).
int goode_region(long double YOverR, long double XOverR);
// Central meridian of a Goode region in radians; 0 for a number outside 0 to 11.
long double goode_central_meridian(int Region);

}  // namespace kavrimo
