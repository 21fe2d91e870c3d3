// projectn: pixel positions of an image to latitude and longitude.
//
// The projection layer uses the runtime layer only (Real48, floating-point fault checks). Angles are
// degrees at every interface and radians inside. All arithmetic runs in long double (80-bit extended).
// Arithmetic faults inside a routine (division by zero, square root or logarithm out of domain) raise
// the runtime's EZeroDivide / EInvalidOp / EOverflow and end the call; no NaN is ever passed on.
#pragma once

#include <cstdio>

#include "projection/image_header.h"
#include "runtime/real48.h"

namespace kavrimo {

// Projection codes of the header byte `Projection`.
enum ProjectionCode : unsigned char {
  kHammer = 2,
  kGeographic = 3,
  kLambertConic = 4,
  kGeostationary = 5,
  kLambertAzimuthal = 6,
  kAlbers = 8,
  kGoode = 9,
};

// Turns the pixel position (Row, Column; cells, real-valued, rows counting downward) of an image with
// header Header into Latitude and Longitude in degrees. Map coordinates are
//   x = (Column - RefColumn) * ColumnSpacing,  y = (RefRow - Row) * RowSpacing
// and go to the inverse projection that Header.Projection selects. Codes without a routine (0, 1, 7,
// 10 to 255) give 0 and 0. Results of the routines are passed on unchanged, including their failure
// values; lamaz_inverse assigns nothing for a position it rejects, so callers preset the outputs.
void pixel_to_latlon(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, Real48 Row, Real48 Column);

// Where lamaz_inverse writes its one report line, "Error in lamaz_inverse": standard output until a
// program names another stream (the command line sends it to standard error, beside its other
// messages, so that its results on standard output stay clean).
void SetProjectionReportStream(std::FILE* stream);

// The inverse projections; x and y are map coordinates in the unit of the projection, results degrees.
void hammer_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y);
void geographic_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y);
void lambert_conic_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X,
                           long double Y);
void albers_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y);
void geostationary_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X,
                           long double Y);
void lamaz_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y);
void goode_inverse(Real48& Latitude, Real48& Longitude, const TImageHeader& Header, long double X, long double Y);

}  // namespace kavrimo
