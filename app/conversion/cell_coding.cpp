// The reference arithmetic of the coding: the scale and the byte of one cell, in extended precision.
// The fast loops over whole blocks (cell_coding_fast.cpp) must give exactly these results.
#include "app/conversion/cell_coding.h"

#include <algorithm>
#include <cmath>

#include "runtime/fp.h"
#include "runtime/number_text.h"

namespace kavrimo {

CellScale ScaleFor(const CellRange& range) {
  const long double maximum = range.maximum;
  const long double minimum = range.minimum;
  const long double span = maximum - minimum;
  CellScale scale;
  scale.slope = fp::ToSingle(fp::Div(span, kTopByte));
  // The range runs from at most 0 to at least 0, so only an infinite maximum meets an infinite span of
  // the same sign here: inf - inf.
  if (std::isinf(maximum) && std::isinf(span)) fp::RaiseInvalidOp();
  scale.intercept = fp::ToSingle(maximum - span);
  return scale;
}

std::uint8_t CodeCellReference(float value, CellNoData nodata, const CellScale& scale) {
  if (nodata.Matches(value)) return kNoDataByte;
  if (std::isnan(value)) fp::RaiseInvalidOp();
  if (scale.slope == 0) return 0;
  const long double q = fp::Div(static_cast<long double>(value) - scale.intercept, scale.slope);
  return static_cast<std::uint8_t>(RoundHalfEven(fp::ToSingle(q)) & 0xFF);
}

std::uint8_t CodeCellClampedReference(float value, CellNoData nodata, const FixedScale& fixed) {
  if (nodata.Matches(value)) return kNoDataByte;
  if (std::isnan(value)) fp::RaiseInvalidOp();
  // Outside the range by value, so that the bytes agree with the counts whatever the scale: for any
  // slope that is not denormal the clamped code gives the same, as the code grows with the cell.
  if (value > fixed.range.maximum) return kTopByte;
  if (value < fixed.range.minimum) return 0;
  const CellScale& scale = fixed.scale;
  if (scale.slope == 0) return 0;
  // Inside the range the quotient stays within about 0 to 253 (a few hundred at most for a denormal
  // slope), so its rounding to single cannot overflow.
  const long double q = fp::Div(static_cast<long double>(value) - scale.intercept, scale.slope);
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(RoundHalfEven(fp::ToSingle(q)), 0, kTopByte));
}

}  // namespace kavrimo
