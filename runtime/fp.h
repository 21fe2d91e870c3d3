// Floating-point fault checks.
//
// The system's real arithmetic never passes an infinity or a NaN on where a trapping processor would
// have stopped: invalid operations raise EInvalidOp, division of a nonzero number by zero EZeroDivide,
// results too large for their destination EOverflow. Underflow stays silent. These helpers perform
// the operations that can fault and raise the matching exception, so the arithmetic itself runs with
// the processor's traps masked. All work in long double, the 80-bit extended type on x86-64.
#pragma once

#include <cstdint>

namespace kavrimo::fp {

[[noreturn]] void RaiseInvalidOp();
[[noreturn]] void RaiseZeroDivide();
[[noreturn]] void RaiseOverflow();

// a / b: 0/0 and any NaN operand raise EInvalidOp, x/0 for x != 0 raises EZeroDivide, a finite
// quotient too large for long double raises EOverflow.
long double Div(long double a, long double b);
// Square root; a negative argument (or NaN) raises EInvalidOp.
long double Sqrt(long double v);
// Natural logarithm; 0 raises EZeroDivide, a negative argument (or NaN) raises EInvalidOp.
long double Ln(long double v);
// Exponential; a result beyond the long double range raises EOverflow.
long double Exp(long double v);
// Passes v on when finite; a NaN raises EInvalidOp, an infinity EOverflow.
long double Finite(long double v);
// An ordered comparison with a NaN operand is an invalid operation.
void CheckOrdered(long double a, long double b);
// Rounds to single precision, ties to even; a finite value beyond the single range raises EOverflow.
// Infinities pass through unchanged, as a store of an infinity does not overflow; NaN raises EInvalidOp.
float ToSingle(long double v);

}  // namespace kavrimo::fp
