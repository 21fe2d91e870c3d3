// Shared helpers of the projection tests: header construction and independent constants.
#pragma once

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "projection/image_header.h"
#include "runtime/real48.h"

namespace kavrimo::test {

// Exact pi and the degree factor, independent of the stored constants of the projection layer.
inline constexpr long double kPi = 3.141592653589793238462643383279502884L;
inline constexpr long double kRad = kPi / 180.0L;

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

// Runs f and checks that it throws E with the given message.
template <typename E, typename F>
void ExpectThrowsWithMessage(F&& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const E& error) {
    EXPECT_EQ(error.what(), message);
  }
}

}  // namespace kavrimo::test
