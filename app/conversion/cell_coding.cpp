// The reference arithmetic of the coding: the scale and the byte of one cell, in extended precision.
// The fast loops over whole blocks (cell_coding_fast.cpp) must give exactly these results.
#include "app/conversion/cell_coding.h"

#include <cmath>

#include "runtime/number_text.h"
#include "runtime/fp.h"

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

std::uint8_t CodeCellReference(float value, std::int32_t nodata, const CellScale& scale) {
  if (std::isnan(value)) fp::RaiseInvalidOp();
  if (static_cast<double>(value) == static_cast<double>(nodata)) return kNoDataByte;
  if (scale.slope == 0) return 0;
  const long double q = fp::Div(static_cast<long double>(value) - scale.intercept, scale.slope);
  return static_cast<std::uint8_t>(RoundHalfEven(fp::ToSingle(q)) & 0xFF);
}

}  // namespace kavrimo
