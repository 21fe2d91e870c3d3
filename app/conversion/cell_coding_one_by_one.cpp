// The block loops one cell at a time, each cell through the reference arithmetic of cell_coding.cpp.
#include "app/conversion/cell_coding_one_by_one.h"

#include <cmath>

#include "runtime/fp.h"

namespace kavrimo {

void ScanCellsOneByOne(const float* cells, std::size_t count, CellNoData nodata, CellRange& range) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = cells[i];
    if (nodata.Matches(v)) continue;
    if (std::isnan(v)) fp::RaiseInvalidOp();
    if (v > range.maximum) range.maximum = v;
    if (v < range.minimum) range.minimum = v;
  }
}

void CodeCellsOneByOne(const float* cells, std::size_t count, CellNoData nodata, const CellScale& scale,
                       std::uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = CodeCellReference(cells[i], nodata, scale);
}

void CodeCellsClampedOneByOne(const float* cells, std::size_t count, CellNoData nodata, const FixedScale& fixed,
                              std::uint8_t* out, OutsideCounts& counts) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = cells[i];
    out[i] = CodeCellClampedReference(v, nodata, fixed);
    if (out[i] == kNoDataByte) continue;
    counts.above += v > fixed.range.maximum;
    counts.below += v < fixed.range.minimum;
  }
}

}  // namespace kavrimo
