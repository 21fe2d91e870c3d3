// Floating-point fault checks raise where a trapping processor would have stopped.
#include "runtime/fp.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "runtime/errors.h"

namespace kavrimo {
namespace {

constexpr long double kInf = std::numeric_limits<long double>::infinity();
const long double kNaN = std::numeric_limits<long double>::quiet_NaN();

TEST(FpDiv, ZeroByZeroIsInvalidAndNonzeroByZeroDividesByZero) {
  EXPECT_THROW(fp::Div(0.0L, 0.0L), EInvalidOp);
  EXPECT_THROW(fp::Div(1.0L, 0.0L), EZeroDivide);
  EXPECT_THROW(fp::Div(-1.0L, -0.0L), EZeroDivide);
  EXPECT_THROW(fp::Div(kNaN, 2.0L), EInvalidOp);
  EXPECT_THROW(fp::Div(kInf, kInf), EInvalidOp);
  EXPECT_THROW(fp::Div(LDBL_MAX, 0.5L), EOverflow);
  EXPECT_EQ(fp::Div(kInf, 253.0L), kInf);  // an infinite operand is no new overflow
  EXPECT_EQ(fp::Div(7.0L, 2.0L), 3.5L);
  EXPECT_EQ(fp::Div(LDBL_MIN, 1e10L), LDBL_MIN / 1e10L);  // underflow is silent
}

TEST(FpFunctions, DomainErrors) {
  EXPECT_THROW(fp::Sqrt(-1e-30L), EInvalidOp);
  EXPECT_THROW(fp::Sqrt(kNaN), EInvalidOp);
  EXPECT_EQ(fp::Sqrt(0.0L), 0.0L);
  EXPECT_EQ(fp::Sqrt(2.25L), 1.5L);
  EXPECT_THROW(fp::Ln(0.0L), EZeroDivide);
  EXPECT_THROW(fp::Ln(-2.0L), EInvalidOp);
  EXPECT_NEAR(static_cast<double>(fp::Ln(std::exp(1.0L))), 1.0, 1e-18);
  EXPECT_THROW(fp::Exp(20000.0L), EOverflow);
  EXPECT_EQ(fp::Exp(-20000.0L), 0.0L);
  EXPECT_THROW(fp::Finite(kNaN), EInvalidOp);
  EXPECT_THROW(fp::Finite(-kInf), EOverflow);
  EXPECT_THROW(fp::CheckOrdered(1.0L, kNaN), EInvalidOp);
  EXPECT_NO_THROW(fp::CheckOrdered(1.0L, kInf));
}

TEST(FpToSingle, RoundsToNearestEvenAndOverflowsBeyondTheRange) {
  EXPECT_EQ(fp::ToSingle(0.1L), 0.1f);
  EXPECT_EQ(fp::ToSingle(16777217.0L), 16777216.0f);  // tie to even
  EXPECT_EQ(fp::ToSingle(16777219.0L), 16777220.0f);
  EXPECT_EQ(fp::ToSingle(static_cast<long double>(FLT_MAX)), FLT_MAX);
  // Just under half an ulp above the largest single still rounds down to it.
  EXPECT_EQ(fp::ToSingle(static_cast<long double>(FLT_MAX) * (1 + 0x1p-25L)), FLT_MAX);
  EXPECT_THROW(fp::ToSingle(3.5e38L), EOverflow);
  EXPECT_THROW(fp::ToSingle(-1e4000L), EOverflow);
  EXPECT_EQ(fp::ToSingle(kInf), std::numeric_limits<float>::infinity());
  EXPECT_THROW(fp::ToSingle(kNaN), EInvalidOp);
  EXPECT_EQ(fp::ToSingle(1e-50L), 0.0f);  // underflow is silent
}

}  // namespace
}  // namespace kavrimo
