#include "runtime/fp.h"

#include <cmath>

#include "runtime/errors.h"

namespace kavrimo::fp {

void RaiseInvalidOp() { throw EInvalidOp(); }
void RaiseZeroDivide() { throw EZeroDivide(); }
void RaiseOverflow() { throw EOverflow(); }

long double Div(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) RaiseInvalidOp();
  if (b == 0.0L) {
    if (a == 0.0L) RaiseInvalidOp();
    RaiseZeroDivide();
  }
  if (std::isinf(a) && std::isinf(b)) RaiseInvalidOp();
  const long double q = a / b;
  if (std::isinf(q) && !std::isinf(a)) RaiseOverflow();
  return q;
}

long double Sqrt(long double v) {
  if (!(v >= 0.0L)) RaiseInvalidOp();
  return std::sqrt(v);
}

long double Ln(long double v) {
  if (v == 0.0L) RaiseZeroDivide();
  if (!(v > 0.0L)) RaiseInvalidOp();
  return std::log(v);
}

long double Exp(long double v) {
  if (std::isnan(v)) RaiseInvalidOp();
  const long double r = std::exp(v);
  if (std::isinf(r) && !std::isinf(v)) RaiseOverflow();
  return r;
}

long double Finite(long double v) {
  if (std::isnan(v)) RaiseInvalidOp();
  if (std::isinf(v)) RaiseOverflow();
  return v;
}

void CheckOrdered(long double a, long double b) {
  if (std::isnan(a) || std::isnan(b)) RaiseInvalidOp();
}

float ToSingle(long double v) {
  if (std::isnan(v)) RaiseInvalidOp();
  const auto f = static_cast<float>(v);
  if (std::isinf(f) && !std::isinf(v)) RaiseOverflow();
  return f;
}

}  // namespace kavrimo::fp
