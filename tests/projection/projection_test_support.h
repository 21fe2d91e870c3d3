// Shared helpers of the projection tests: header construction, one call of an inverse, worked-example
// checks, and constants written out independently of the projection layer.
#pragma once

#include <cmath>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "projection/building_blocks.h"
#include "projection/dispatcher.h"
#include "runtime/errors.h"

namespace kavrimo::test {

// The floating-point faults, with their messages.
using ::testing::StrEq;
using ::testing::ThrowsMessage;
inline auto RaisesZeroDivide() { return ThrowsMessage<EZeroDivide>(StrEq("Floating point division by zero")); }
inline auto RaisesInvalidOp() { return ThrowsMessage<EInvalidOp>(StrEq("Invalid floating point operation")); }
inline auto RaisesOverflow() { return ThrowsMessage<EOverflow>(StrEq("Floating point overflow")); }

// Exact pi and the degree factor, not the stored constants of the projection layer.
inline constexpr long double kPi = 3.141592653589793238462643383279502884L;
inline constexpr long double kRad = kPi / 180.0L;
inline constexpr long double kR = 6370997;      // sphere radius, metres
inline constexpr long double kE = 0.08227185L;  // Clarke 1866 eccentricity
inline constexpr double kUnset = 777;           // the outputs before a call: no routine gives it

inline TImageHeader MakeHeader(unsigned char projection, long double ref_latitude, long double ref_longitude,
                               long double param1 = 0.0L, long double param2 = 0.0L) {
  TImageHeader header;
  header.Projection = projection;
  header.RefLatitude = Real48::Round(ref_latitude);
  header.RefLongitude = Real48::Round(ref_longitude);
  header.ProjParam1 = Real48::Round(param1);
  header.ProjParam2 = Real48::Round(param2);
  return header;
}

using Inverse = void (*)(Real48&, Real48&, const TImageHeader&, long double, long double);

struct MapXY {
  long double x, y;
};
struct LatLon {
  double latitude, longitude;
};

// The position an inverse gives for the map position (x, y).
inline LatLon Invert(Inverse inverse, const TImageHeader& header, MapXY at) {
  Real48 latitude = Real48::Round(kUnset), longitude = Real48::Round(kUnset);
  inverse(latitude, longitude, header, at.x, at.y);
  return {latitude.Value(), longitude.Value()};
}

inline void ExpectNear(const LatLon& got, long double latitude, long double longitude, double tolerance) {
  EXPECT_NEAR(got.latitude, static_cast<double>(latitude), tolerance);
  EXPECT_NEAR(got.longitude, static_cast<double>(longitude), tolerance);
}

// A worked example: the header's reference point and parallels, a map position, the stated result.
struct Example {
  const char* name;
  long double phi0, lambda0, param1, param2, x, y;
  double latitude, longitude, tolerance;
};

inline void ExpectExample(Inverse inverse, unsigned char code, const Example& c) {
  SCOPED_TRACE(c.name);
  const TImageHeader header = MakeHeader(code, c.phi0, c.lambda0, c.param1, c.param2);
  ExpectNear(Invert(inverse, header, {c.x, c.y}), c.latitude, c.longitude, c.tolerance);
}

inline std::string Where(long double phi, long double lambda) {
  return "at " + std::to_string(static_cast<double>(phi)) + ", " + std::to_string(static_cast<double>(lambda));
}

}  // namespace kavrimo::test
